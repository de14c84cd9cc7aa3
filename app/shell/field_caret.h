// Where the caret goes when the program rewrites a field the user is typing
// in. The rewrite after a user edit only ever drops characters (the digit
// filter), so the caret keeps its place less the characters dropped before
// it: typing "12a34" leaves "1234", never "3412". Both window layers use
// this, so that they behave the same.
#ifndef TORVANE_APP_SHELL_FIELD_CARET_H
#define TORVANE_APP_SHELL_FIELD_CARET_H

#include <string_view>

// The caret position in `new_text` for a caret at `old_caret` in `old_text`.
// When `new_text` keeps some of the characters of `old_text` in order, the
// result is the number of kept characters before the old caret; for any
// other rewrite, the old position, kept within the new text.
int caret_after_rewrite(std::string_view old_text, int old_caret, std::string_view new_text);

#endif
