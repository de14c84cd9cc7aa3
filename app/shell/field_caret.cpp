#include "field_caret.h"

#include <algorithm>

int caret_after_rewrite(std::string_view old_text, int old_caret, std::string_view new_text)
{
    const auto new_length = static_cast<int>(new_text.size());
    const int caret = std::clamp(old_caret, 0, static_cast<int>(old_text.size()));
    // Match the new text against the old one, each character at its first
    // possible place. For the digit filter this finds exactly the characters
    // it kept: what it drops (non-digits, a "-" that is no sign, zeros before
    // the sign) never stands where a kept character could match first.
    std::size_t matched = 0;
    int kept_before_caret = 0;
    for (std::size_t i = 0; i < old_text.size() && matched < new_text.size(); ++i) {
        if (old_text[i] != new_text[matched])
            continue;
        ++matched;
        if (static_cast<int>(i) < caret)
            ++kept_before_caret;
    }
    if (matched < new_text.size())
        return std::min(caret, new_length);
    return kept_before_caret;
}
