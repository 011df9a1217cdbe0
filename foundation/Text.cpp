#include "foundation/Text.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"

bool compare(const char* a, const char* b) { return a && b && strcmp(a, b) == 0; }

bool startswith(const char* s, const char* prefix) {
    if (!s || !prefix) return false;
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

bool endswith(const char* s, const char* suffix) {
    if (!s || !suffix) return false;
    size_t n = strlen(s), m = strlen(suffix);
    return n >= m && memcmp(s + n - m, suffix, m) == 0;
}

int casecompare(const char* a, const char* b) {
    if (!a) {
        PrintError("casecompare: first argument is NULL");
        return -1;
    }
    if (!b) {
        PrintError("casecompare: second argument is NULL");
        return 1;
    }
    return strcasecmp(a, b);
}

bool compareLessChar(const char* a, const char* b) {
    if (!a || !b) {
        if (a)
            PrintError("compareLessChar does not have 2 params : only first");
        else if (b)
            PrintError("compareLessChar does not have 2 params : only second");
        else
            PrintError("compareLessChar does not have 2 params : found none");
        return false;
    }
    return strcasecmp(a, b) < 0;
}

char* strtok_b(char* s, const char* delimiters, char** save) {
    if (!delimiters || !save) return nullptr;
    char* p = s ? s : *save;
    if (!p) return nullptr;
    p += strspn(p, delimiters);
    if (!*p) {
        *save = p;
        return nullptr;
    }
    char* end = p + strcspn(p, delimiters);
    if (*end) {
        *end = 0;
        *save = end + 1;
    } else {
        *save = end;
    }
    return p;
}

char* strtok_b2(char* s, const char* delimiters, char** save) { return strtok_b(s, delimiters, save); }

int strcount(const char* s, char c) {
    if (!s) return 0;
    int n = 0;
    for (; *s; s++)
        if (*s == c) n++;
    return n;
}

uint32_t CharToInt(const char* s, bool forward) {
    if (!s) return 0;
    uint32_t n = (uint32_t)strlen(s);
    uint32_t result = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t weight = 1;
        for (uint32_t k = 0; k < n - 1 - i; k++) weight *= 10u;
        signed char c = (signed char)(forward ? s[i] : s[n - i]);
        uint32_t digit = (uint32_t)(int32_t)(c - '0');
        result += digit * weight;
    }
    return result;
}

char* replacequotes(const char* s) {
    if (!s) return nullptr;
    size_t n = strlen(s);
    size_t escaped = 0;
    for (size_t i = 0; i < n; i++)
        if (s[i] == '\'' || s[i] == '\r' || s[i] == '\\') escaped++;
    char* out = new char[n + escaped + 10];
    size_t j = 0;
    for (size_t i = 0; i < n; i++) {
        if (s[i] == '\'' || s[i] == '\r' || s[i] == '\\') out[j++] = '\\';
        out[j++] = s[i];
    }
    out[j] = 0;
    return out;
}

char* replacecarriagereturn(const char* s) {
    if (!s) return nullptr;
    size_t n = strlen(s);
    char* out = new char[n + (size_t)strcount(s, '\r') + 10];
    size_t j = 0;
    for (size_t i = 0; i < n; i++) {
        if (s[i] == '\r' && (i == 0 || s[i - 1] != '\\')) out[j++] = '\\';
        out[j++] = s[i];
    }
    out[j] = 0;
    return out;
}

namespace {

// A fresh temporary file name in `name` (room for 410 bytes), created empty.
// Uses the system's tempfile program when it is installed, otherwise creates
// the file directly. False when neither gives a name.
bool MakeEncodeFile(char* name, size_t size) {
    const std::string& program = external_programs().tempfile;
    if (!program.empty() && access(program.c_str(), X_OK) == 0) {
        char* out = FormatExecuteWithResult("%s", program.c_str());
        if (!out) return false;
        snprintf(name, size, "%s", out);
        delete[] out;
        return name[0] != 0;
    }
    const char* dir = getenv("TMPDIR");
    if (!dir || !*dir || strlen(dir) > 300) dir = "/tmp";
    snprintf(name, size, "%s/zelenc.XXXXXX", dir);
    int fd = mkostemp(name, O_CLOEXEC);
    if (fd < 0) {
        name[0] = 0;
        return false;
    }
    close(fd);
    return true;
}

}  // namespace

std::string ShellQuote(const char* text) {
    std::string quoted = "'";
    for (const char* p = text ? text : ""; *p; p++) {
        if (*p == '\'')
            quoted += "'\\''";
        else
            quoted += *p;
    }
    return quoted + "'";
}

char* StringEncode(const char* s, const char* from, const char* to) {
    if (!s || !from || !to) return nullptr;
    char name[410];
    if (!MakeEncodeFile(name, sizeof(name))) return nullptr;
    FILE* f = fopen(name, "we");
    if (!f) {
        unlink(name);
        return nullptr;
    }
    fputs(s, f);
    fclose(f);
    char* out = FormatExecuteWithResult("%s --from-code %s --to-code %s//IGNORE %s", external_programs().iconv.c_str(),
                                        from, to, name);
    unlink(name);
    if (out && !out[0]) {
        delete[] out;
        out = nullptr;
    }
    return out;
}

namespace {

// Calls `take(begin, length)` for each line of the `size` bytes at `text`.
template <typename Take>
void EachLine(const char* text, size_t size, Take take) {
    const char* end = text + size;
    for (const char* p = text; p < end;) {
        const char* feed = static_cast<const char*>(memchr(p, '\n', (size_t)(end - p)));
        const char* stop = feed ? feed : end;
        take(p, (size_t)(stop - p));
        p = stop + 1;
    }
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') i++;
        size_t end = text.find(' ', i);
        if (end == std::string::npos) end = text.size();
        if (end > i) words.push_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

std::vector<std::string> SplitLines(const char* text) {
    std::vector<std::string> out;
    if (!text) return out;
    EachLine(text, strlen(text), [&](const char* begin, size_t length) {
        if (length > 0 && begin[length - 1] == '\r') length--;
        if (length > 0) out.emplace_back(begin, length);
    });
    return out;
}

std::vector<std::string> SplitAtLineFeeds(const char* text) {
    std::vector<std::string> out;
    if (!text) return out;
    EachLine(text, strlen(text), [&](const char* begin, size_t length) {
        if (length > 0) out.emplace_back(begin, length);
    });
    return out;
}

std::vector<std::string> SplitRawLines(const std::string& text) {
    std::vector<std::string> out;
    EachLine(text.data(), text.size(),
             [&](const char* begin, size_t length) { out.emplace_back(begin, length); });
    return out;
}
