#include "foundation/Wildcard.h"

#include <string.h>

namespace {

// A view of part of a NUL-terminated text; components are not copied.
struct Span {
    const char* p;
    size_t n;
};

bool SpanEquals(Span a, Span b) { return a.n == b.n && memcmp(a.p, b.p, a.n) == 0; }

bool SpanIs(Span a, const char* literal) { return SpanEquals(a, Span{literal, strlen(literal)}); }

// First occurrence of `needle` in `hay` at or after `from`; -1 when none.
long FindFrom(Span hay, size_t from, Span needle) {
    if (needle.n > hay.n) return -1;
    for (size_t i = from; i + needle.n <= hay.n; i++)
        if (memcmp(hay.p + i, needle.p, needle.n) == 0) return (long)i;
    return -1;
}

// Next literal piece of a star pattern at or after `pos`; false when none.
bool NextPiece(Span pattern, size_t& pos, Span& piece) {
    while (pos < pattern.n && pattern.p[pos] == '*') pos++;
    if (pos >= pattern.n) return false;
    size_t start = pos;
    while (pos < pattern.n && pattern.p[pos] != '*') pos++;
    piece = Span{pattern.p + start, pos - start};
    return true;
}

bool WildMatch(Span pattern, Span text) {
    if (SpanEquals(pattern, text)) return true;
    if (pattern.n == 1) return pattern.p[0] == '*';
    bool leading_star = pattern.n > 0 && pattern.p[0] == '*';
    bool trailing_star = pattern.n > 0 && pattern.p[pattern.n - 1] == '*';

    size_t pos = 0;
    Span piece{nullptr, 0};
    if (!NextPiece(pattern, pos, piece)) {
        // Only stars (or an empty pattern, which only an empty text matched).
        return leading_star;
    }
    if (!leading_star && (text.n < piece.n || memcmp(text.p, piece.p, piece.n) != 0)) return false;

    size_t cursor = 0;
    Span last = piece;
    long found = 0;
    do {
        found = FindFrom(text, cursor, piece);
        if (found < 0) return false;
        // The cursor stays at the start of the occurrence, not past it.
        cursor = (size_t)found;
        last = piece;
    } while (NextPiece(pattern, pos, piece));

    if ((size_t)found + last.n == text.n) return true;
    if (trailing_star) return true;
    return text.n >= last.n && memcmp(text.p + text.n - last.n, last.p, last.n) == 0;
}

// Walks the non-empty "|"-separated components of a path.
class Components {
public:
    explicit Components(const char* s) : s_(s), end_(0) { Advance(); }
    bool Valid() const { return cur_.n > 0; }
    Span Current() const { return cur_; }
    // True when another component follows the current one.
    bool HasNext() const {
        const char* q = s_ + end_;
        while (*q == '|') q++;
        return *q != 0;
    }
    void Advance() {
        size_t i = end_;
        while (s_[i] == '|') i++;
        size_t start = i;
        while (s_[i] && s_[i] != '|') i++;
        cur_ = Span{s_ + start, i - start};
        end_ = i;
    }

private:
    const char* s_;
    size_t end_;
    Span cur_{nullptr, 0};
};

bool HasWildcard(const char* pattern) { return strchr(pattern, '*') || strstr(pattern, "..."); }

}  // namespace

bool wildcompare(const char* pattern, const char* text) {
    if (!pattern || !text) return false;
    return WildMatch(Span{pattern, strlen(pattern)}, Span{text, strlen(text)});
}

bool deepwildcompare(const char* path, const char* pattern) {
    if (!path || !pattern) return false;
    if (strcmp(path, pattern) == 0) return true;
    if (!HasWildcard(pattern)) return false;

    Components p(path), w(pattern);
    bool ellipsis = false;
    while (p.Valid() && w.Valid()) {
        if (SpanIs(w.Current(), "...")) {
            ellipsis = true;
            w.Advance();
            continue;
        }
        if (WildMatch(w.Current(), p.Current())) {
            bool path_has_next = p.HasNext();
            if (w.HasNext()) {
                w.Advance();
                p.Advance();
                ellipsis = false;
                continue;
            }
            // Last pattern component matched.
            if (!path_has_next) return true;
            if (!ellipsis) return false;
            // An ellipsis before it: try the same component further down.
            p.Advance();
            continue;
        }
        if (!ellipsis) return false;
        p.Advance();
    }
    return false;
}

bool wildstartswith(const char* pattern, const char* path) {
    if (!pattern || !path) return false;
    if (strncmp(pattern, path, strlen(path)) == 0) return true;
    if (strncmp(pattern, "...", 3) == 0) return true;
    if (!HasWildcard(pattern)) return false;

    Components p(path), w(pattern);
    for (;;) {
        if (!p.Valid()) return true;
        if (!w.Valid()) return false;
        if (SpanIs(w.Current(), "...")) return true;
        if (!WildMatch(w.Current(), p.Current())) return false;
        p.Advance();
        w.Advance();
    }
}
