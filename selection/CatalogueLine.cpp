#include "selection/CatalogueLine.h"

#include <stdio.h>
#include <string.h>

#include "core/Globals.h"
#include "records/Config.h"
#include "selection/CatalogueSink.h"

namespace {

// The same text the configuration object builds; used only when no
// configuration exists (early start-up, stand-alone tools).
const char* const kFallbackTemplate = "%iMD5('%s'), %i, %i, '%s', '%s', 'null', 'null', '%010u', 0, 0, 1, '%lli', 0\n";

inline bool NeedsEscape(char c) { return c == '\'' || c == '\r' || c == '\\'; }

}  // namespace

void AppendEscaped(std::string& out, const char* s, size_t n) {
    size_t start = 0;
    for (size_t i = 0; i < n; i++) {
        if (!NeedsEscape(s[i])) continue;
        out.append(s + start, i - start);
        out.append(1, '\\');
        start = i;
    }
    out.append(s + start, n - start);
}

char* FormatCatalogueLine(int marker, const char* key, int kind, int depth, const char* shortName,
                          const char* fullPath, unsigned time, long long size) {
    const char* format = (config && config->list_template) ? config->list_template : kFallbackTemplate;
    time &= 0x7FFFFFFF;
    // The template itself is under 100 bytes and the numbers under 60.
    size_t room = strlen(key) + strlen(shortName) + strlen(fullPath) + 200;
    char* line = new char[room];
    int n = snprintf(line, room, format, marker, key, kind, depth, shortName, fullPath, time, size);
    if (n >= 0 && (size_t)n >= room) {
        delete[] line;
        room = (size_t)n + 1;
        line = new char[room];
        snprintf(line, room, format, marker, key, kind, depth, shortName, fullPath, time, size);
    }
    return line;
}

char* FormatErrorLine(int code, const char* name) {
    size_t room = strlen(name) + 16;
    char* line = new char[room];
    snprintf(line, room, "%i%s\n", code, name);
    return line;
}

int CatalogueDepth(const char* s) {
    int bars = 0;
    for (const char* p = s; (p = strchr(p, '|')) != nullptr; p++) bars++;
    return bars + 1;
}

void FreeLines(std::vector<char*>* lines) {
    for (size_t i = lines->size(); i > 0; i--) delete[](*lines)[i - 1];
    lines->clear();
}

void FlushLines(CatalogueSink* sink, std::vector<char*>* lines) {
    if (lines->empty() || !sink) return;
    try {
        sink->SendBlock(*lines);
    } catch (...) {
        FreeLines(lines);
        throw;
    }
    FreeLines(lines);
}

void AppendLine(CatalogueSink* sink, std::vector<char*>* lines, char* line) {
    lines->push_back(line);
    if (lines->size() >= kCatalogueBlockLines) FlushLines(sink, lines);
}
