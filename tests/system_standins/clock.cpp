// The clock while a FakeClock lives: now() reads its counter and a sleep moves
// it on. Local time and the zone stay the system's; with no FakeClock alive
// every call is the system's.
#include "agent/platform/inspect.h"
#include "agent/platform/system.h"
#include "test_support.h"

namespace omvar::test {

struct FakeClockAccess {
    static FakeClock* active;

    static platform::Seconds now() {
        if (active->on_read) {
            active->on_read();
        }
        return active->now;
    }

    static void sleep_ms(unsigned ms) {
        ++active->sleeps;
        active->slept_ms += ms;
        active->now += ms / 1000;
        for (auto& jump : active->jumps_) {
            if (!jump.done && active->now >= jump.when) {
                jump.done = true;
                active->now += jump.delta;
            }
        }
        if (active->on_sleep) {
            active->on_sleep(ms);
        }
    }
};

FakeClock* FakeClockAccess::active = nullptr;

FakeClock::FakeClock(platform::Seconds start) : now(start) { FakeClockAccess::active = this; }

FakeClock::~FakeClock() { FakeClockAccess::active = nullptr; }

void FakeClock::jump_at(platform::Seconds when, platform::Seconds delta) {
    jumps_.push_back({when, delta, false});
}

}  // namespace omvar::test

namespace omvar::platform {

using test::FakeClockAccess;

Seconds clock_now() {
    return FakeClockAccess::active != nullptr ? FakeClockAccess::now() : system::clock_now();
}

void sleep_ms(unsigned milliseconds) {
    if (FakeClockAccess::active != nullptr) {
        FakeClockAccess::sleep_ms(milliseconds);
    } else {
        system::sleep_ms(milliseconds);
    }
}

bool clock_to_local(Seconds t, std::tm* out) { return system::clock_to_local(t, out); }
void clock_refresh_zone() { system::clock_refresh_zone(); }
bool clock_zone_name(char* out, std::size_t size) { return system::clock_zone_name(out, size); }

}  // namespace omvar::platform
