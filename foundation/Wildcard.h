// Wildcard matching of names and "|"-separated paths, as used by the include
// and exclude rules and by the directory walk.
//
// Inside one component "*" is the only wildcard; "?" and every other
// character stand for themselves. A whole component "..." stands for any
// number of components. Comparisons are byte-wise and case-sensitive.
// Empty components (leading, trailing or doubled "|") are skipped.
//
// All functions are pure, thread-safe and allocate nothing; a null argument
// gives false.
#pragma once

// One component: does `text` match `pattern`? Literal pieces between stars are
// searched from the start of the previous piece's occurrence, so pieces may
// overlap in the text ("ab*b" matches "ab"). A one-character pattern matches
// only when it is "*" (or equal to the text).
bool wildcompare(const char* pattern, const char* text);

// Whole path: does the "|"-separated `path` match `pattern` component by
// component? A "..." component absorbs any number of path components; a
// pattern ending in "..." never matches. A pattern without "*" or "..."
// matches only an equal text. Note the order: path first, pattern second.
bool deepwildcompare(const char* path, const char* pattern);

// Could `path` or anything below it match `pattern`? Decides whether a walk
// descends into a directory. True at once when the pattern text begins with
// the path text, or the pattern begins with "...".
bool wildstartswith(const char* pattern, const char* path);
