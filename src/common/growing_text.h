// Room for a long output text, made in steps that can be interrupted.
//
// A std::string that grows by appending doubles its room now and then, copying everything written
// so far into fresh memory in one step: for an export of a hundred megabytes, a copy of fifty,
// which is some thirteen thousand page faults that no poll can come between (a quarter of a second
// where a fault costs 20 µs). Writers of texts that may grow that long call make_text_room where
// they poll for cancellation: once the text is past a step's length (kTextStep) and its room is
// down to less than a step, the text moves to a room twice as large a step at a time, with a
// cancellation poll before each, so the fresh memory written between two polls stays a step or
// so, however long the text. Until then the call is two comparisons and the text grows as
// std::string grows it. Only the capacity changes: the text's bytes are the same.
#pragma once

#include <cstddef>
#include <string>

#include "common/cancellation.h"

namespace vok {

// A megabyte: 256 pages, a few milliseconds of faults at the dearest.
inline constexpr std::size_t kTextStep = std::size_t{1} << 20;

// Moves `text` to a room of at least twice its capacity, copying it over a step at a time with
// poll_cancellation_now() before each step. Stopped, `text` stays as it was.
void grow_text_in_steps(std::string& text);

// Makes sure a long `text` has at least kTextStep bytes of room left, so that the writing up to
// the next poll does not make std::string double it in one step.
inline void make_text_room(std::string& text) {
    if (text.capacity() - text.size() < kTextStep && text.size() >= kTextStep) [[unlikely]]
        grow_text_in_steps(text);
}

// Consults the cancellation check once `text` has grown by a step since `consulted_at`, its length
// at the last such consultation. A loop that polls once per element consults the check only once
// per kCancellationPollInterval polls, which for elements of a few kilobytes is megabytes of fresh
// memory written in between.
inline void consult_once_a_step(const std::string& text, std::size_t& consulted_at) {
    if (text.size() - consulted_at >= kTextStep) [[unlikely]] {
        poll_cancellation_now();
        consulted_at = text.size();
    }
}

// The polls of a loop that writes a long text, one call per element: poll_cancellation(), a
// consultation once a step written (consult_once_a_step) and room made as make_text_room makes it.
class TextWritingPolls {
public:
    explicit TextWritingPolls(const std::string& text) : consulted_at_(text.size()) {}

    void poll(std::string& text) {
        poll_cancellation();
        consult_once_a_step(text, consulted_at_);
        make_text_room(text);
    }

private:
    std::size_t consulted_at_;
};

} // namespace vok
