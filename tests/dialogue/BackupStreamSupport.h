// The server's half of a backup and a restore, for tests against the real
// agent, and trees on disk compared.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <vector>

#include "dialogue/AgentHarness.h"

namespace backup_test {

// What came back between "LIST_OK" and "LIST_DONE".
struct Listing {
    std::string first_reply, last_reply;
    std::vector<std::vector<std::string>> blocks;
    std::vector<std::string> Sorted() const {
        std::vector<std::string> all;
        for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
        std::sort(all.begin(), all.end());
        return all;
    }
};

inline Listing ListFiles(Sock* sock, const std::string& rules,
                         const std::string& command = "list_files_to_save 1") {
    Listing out;
    sock->Write(command.c_str());
    out.first_reply = NextPacket(sock);
    if (out.first_reply != "LIST_OK") return out;
    sock->Write(rules.data(), (unsigned)rules.size());
    for (;;) {  // every Read is bounded by the socket's timeout
        std::string packet = NextPacket(sock);
        if (packet == "LIST_DONE") return out.last_reply = packet, out;
        std::vector<std::string> block;
        for (size_t start = 0, end; start < packet.size(); start = end) {
            end = std::min(packet.find('\n', start), packet.size() - 1) + 1;
            block.push_back(packet.substr(start, end - start));
        }
        out.blocks.push_back(block);
    }
}

// The quoted fields of a catalogue line, unescaped: key, short name, full
// path, two "null", time, size.
inline std::vector<std::string> QuotedFields(const std::string& line) {
    std::vector<std::string> fields;
    for (size_t i = line.find('\''); i < line.size(); i = line.find('\'', i + 1)) {
        std::string field;
        for (i++; i < line.size() && line[i] != '\''; i++) field += line[i] == '\\' ? line[++i] : line[i];
        fields.push_back(field);
    }
    return fields;
}

// One fast record as it travelled.
struct Record {
    int type;
    std::string data;
    long long value;
};
typedef std::vector<Record> Stream;

// One file's records up to its end record (-1 to -4).
inline Stream ReadStream(Sock* sock) {
    Stream s;
    for (int type = 0; type >= 0 || type < -4;) {
        char* data = nullptr;
        int length = 0;
        long long value = 0;
        type = sock->FastRead(data, length, value);
        s.push_back(Record{type, type >= 0 ? std::string(data, (size_t)length) : std::string(), value});
    }
    return s;
}

// A stream as "type:data " per record; data longer than 40 bytes by its size.
inline std::string Shape(const Stream& s) {
    std::string out;
    for (const Record& r : s)
        out += std::to_string(r.type) + ":" + (r.data.size() > 40 ? "#" + std::to_string(r.data.size()) : r.data) + " ";
    return out;
}

// "send_fast" of `paths` (the server's form); one stream per path.
inline std::vector<Stream> SendFast(Sock* sock, const std::vector<std::string>& paths) {
    std::vector<Stream> streams;
    sock->Write("send_fast 1");
    sock->Read();
    if (std::string(sock->read_buffer) != "SEND_OK") return streams;
    std::string list;
    for (const std::string& p : paths) list += p + "\n";
    sock->Write(list.data(), (unsigned)list.size());
    for (size_t f = 0; f < paths.size(); f++) streams.push_back(ReadStream(sock));
    return streams;
}

// A regular file's stream as the agent sends it: metadata, data, end.
inline Stream FileStream(const std::string& content, unsigned mode = 0644) {
    char meta[40];
    snprintf(meta, sizeof(meta), "M_UNIX00000000.00000000.%08x", (unsigned)(S_IFREG | mode));
    long long total = (long long)content.size() + 32;
    Stream s{{0, meta, total}};
    if (!content.empty()) s.push_back({1, content, total});
    s.push_back({-3, "", 0});
    return s;
}

inline void Push(Sock* sock, const Stream& stream) {
    for (const Record& r : stream) {
        std::string copy = r.data;
        sock->FastWrite(r.type, &copy[0], (int)copy.size(), r.value);
    }
}

// "get_fast ..." of `list` ("name\tmtime" lines), the streams pushed back,
// then an echo that returns once the agent has taken them all.
inline std::string Restore(Sock* sock, const std::string& command, const std::string& list,
                           const std::vector<Stream>& streams) {
    sock->Write(command.c_str());
    std::string reply = NextPacket(sock);
    if (reply != "GET_OK") return reply;
    sock->Write(list.data(), (unsigned)list.size());
    for (const Stream& s : streams) Push(sock, s);
    sock->FastSend();
    sock->Write("echo restored");
    return NextPacket(sock);
}

// The files and links of a tree, by path relative to its root: "link" or
// the mode, owner, mtime and the bytes (or the link's target).
inline void Snapshot(const std::string& root, const std::string& rel, std::map<std::string, std::string>* out) {
    for (const std::string& name : Entries(root + rel)) {
        std::string path = root + rel + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            Snapshot(root, rel + "/" + name, out);
            continue;
        }
        char head[80], target[4096];
        snprintf(head, sizeof(head), "%o %u/%u %ld ", S_ISLNK(st.st_mode) ? 0 : st.st_mode & 07777,
                 (unsigned)st.st_uid, (unsigned)st.st_gid, (long)st.st_mtime);
        ssize_t len = S_ISLNK(st.st_mode) ? readlink(path.c_str(), target, sizeof(target)) : -1;
        (*out)[rel + "/" + name] = head + (len >= 0 ? "link " + std::string(target, (size_t)len) : ReadWholeFile(path));
    }
}

inline std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    Snapshot(root, "", &out);
    return out;
}

// What differs between two snapshots, one line per path; empty when equal.
inline std::string Differences(const std::map<std::string, std::string>& a,
                               const std::map<std::string, std::string>& b) {
    std::string out;
    for (const auto& e : a) {
        auto it = b.find(e.first);
        if (it == b.end() || it->second != e.second)
            out += e.first + (it == b.end() ? ": missing\n" : ": " + e.second.substr(0, 40) + " / " + it->second.substr(0, 40) + "\n");
    }
    for (const auto& e : b)
        if (!a.count(e.first)) out += e.first + ": unexpected\n";
    return out;
}

}  // namespace backup_test
