// Growing a long text in steps; see growing_text.h.
#include "common/growing_text.h"

#include <algorithm>

#include "common/cancellation.h"

namespace vok {

void grow_text_in_steps(std::string& text) {
    std::string larger;
    // Reserving writes only the terminator: the pages of the new room are faulted in by the
    // copies below, a step between two polls.
    larger.reserve(std::max(2 * text.capacity(), text.size() + kTextStep));
    for (std::size_t at = 0; at < text.size(); at += kTextStep) {
        poll_cancellation_now();
        larger.append(text, at, kTextStep);
    }
    text.swap(larger);
}

} // namespace vok
