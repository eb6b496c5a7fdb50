// Shared by the event tests: queued events as rows of data, and a drained queue compared with the
// rows a scenario expects.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/gui/events/events.h"

namespace rt::test {

struct EventRow {
    int64_t code;
    int64_t object;
    int64_t window;
    int64_t type;

    bool operator==(const EventRow&) const = default;
};
using EventRows = std::vector<EventRow>;

// Takes every queued event, in order.
inline EventRows DrainEvents() {
    EventRows rows;
    while (int64_t code = EventQueueTake()) {
        rows.push_back({code, EventGadgetId(), EventWindowId(), EventType()});
    }
    return rows;
}

inline std::string Describe(const EventRow& row) {
    return "(" + std::to_string(row.code) + ", " + std::to_string(row.object) + ", " +
           std::to_string(row.window) + ", " + std::to_string(row.type) + ")";
}

// One failure per differing row, naming the scenario and the row.
inline void ExpectEvents(const std::string& scenario, const EventRows& expected) {
    EventRows actual = DrainEvents();
    for (size_t row = 0; row < std::max(expected.size(), actual.size()); ++row) {
        std::string want = row < expected.size() ? Describe(expected[row]) : "nothing";
        std::string got = row < actual.size() ? Describe(actual[row]) : "nothing";
        EXPECT_EQ(want, got) << scenario << ": row " << row;
    }
}

}  // namespace rt::test
