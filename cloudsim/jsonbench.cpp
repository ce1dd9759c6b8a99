// Measures how the stand-in's own JSON reader serves large print bodies next to nlohmann::json:
// parse time, time to reach the Base64 member, the decode to bytes, the Base64 text held outside the
// body, and the peak memory beyond the body. Run it by hand: `cloudsim_jsonbench [--runs N] [MiB...]`.
//
// Every case runs in a fresh child process, so one case's heap cannot lend its pages to the next and
// the peak resident size belongs to that case alone.

#include "base64.h"
#include "jsonvalue.h"

#include <nlohmann/json.hpp>
#include <zlib.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double MiB = 1024.0 * 1024.0;

enum class Reader { Ours, Nlohmann };

const char *readerName(Reader reader)
{
    return reader == Reader::Ours ? "JsonValue" : "nlohmann::json";
}

struct Figures
{
    double parseMs = 0;
    double memberMs = 0;
    double decodeMs = 0;
    double copiedMiB = 0; // Base64 text held outside the body
    double peakExtraMiB = 0; // peak resident size beyond what the body alone takes
    int ok = 0;
};

// A /proc/self/status figure in bytes, -1 when absent.
long long statusBytes(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::atoll(line.c_str() + n + 1) * 1024;
    }
    return -1;
}

// Forgets the peak resident size so far, so the next VmHWM covers only what follows. False on kernels
// that do not allow it; the peak then also covers building the body, which is then an upper bound.
bool resetPeak()
{
    std::FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool written = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && written;
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The body the program posts: the device, two flags, the data type and the job's bytes as Base64.
// The job bytes are made and encoded slice by slice straight into the body, whose size is known in
// advance, so building it never holds more than the body itself. Returns the job bytes' CRC-32.
unsigned long buildBody(size_t jobBytes, std::string *body)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string head = R"({"tvNumber":["0123456789ABCDEF"],"taskPersist":false,"async":true,)"
                             R"("dataType":"base64","printData":")";
    const std::string tail = "\"}";
    body->clear();
    body->reserve(head.size() + (jobBytes + 2) / 3 * 4 + tail.size());
    body->append(head);

    unsigned long crc = crc32(0L, Z_NULL, 0);
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    std::vector<unsigned char> slice;
    constexpr size_t SliceBytes = 3 * 256 * 1024;
    for (size_t done = 0; done < jobBytes;) {
        const size_t n = std::min(SliceBytes, jobBytes - done);
        slice.resize(n);
        for (size_t i = 0; i < n; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            slice[i] = static_cast<unsigned char>(state >> 24);
        }
        crc = crc32(crc, slice.data(), static_cast<uInt>(n));
        for (size_t i = 0; i < n; i += 3) {
            const unsigned long a = slice[i];
            const unsigned long b = i + 1 < n ? slice[i + 1] : 0;
            const unsigned long c = i + 2 < n ? slice[i + 2] : 0;
            const unsigned long q = a << 16 | b << 8 | c;
            body->push_back(alphabet[q >> 18 & 63]);
            body->push_back(alphabet[q >> 12 & 63]);
            body->push_back(i + 1 < n ? alphabet[q >> 6 & 63] : '=');
            body->push_back(i + 2 < n ? alphabet[q & 63] : '=');
        }
        done += n;
    }
    body->append(tail);
    return crc;
}

bool inside(std::string_view part, const std::string &whole)
{
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

// Decodes as the stand-in does when it keeps a job: slice by slice, with the CRC-32 it records.
bool decodeChecked(std::string_view base64, unsigned long expectedCrc)
{
    unsigned long crc = crc32(0L, Z_NULL, 0);
    std::string error;
    const bool decoded = decodeBase64(
        base64,
        [&crc](const char *data, size_t size) {
            crc = crc32(crc, reinterpret_cast<const Bytef *>(data), static_cast<uInt>(size));
            return true;
        },
        &error);
    if (!decoded)
        std::fprintf(stderr, "jsonbench: %s\n", error.c_str());
    return decoded && crc == expectedCrc;
}

// One case, run in the child. The parsed document stays alive until the bytes are decoded, as it
// does in the stand-in while a job is kept.
Figures runCase(Reader reader, size_t jobBytes)
{
    Figures f;
    std::string body;
    const unsigned long crc = buildBody(jobBytes, &body);
    const bool peakReset = resetPeak();
    const long long before = statusBytes("VmRSS");
    if (!peakReset)
        std::fprintf(stderr, "jsonbench: the peak cannot be reset; peaks include building the body\n");

    std::string_view base64;
    bool decoded = false;
    if (reader == Reader::Ours) {
        auto start = std::chrono::steady_clock::now();
        bool ok = false;
        std::string why;
        const JsonValue json = JsonValue::parse(body, &ok, &why);
        f.parseMs = msSince(start);
        if (!ok || !json.isObject()) {
            std::fprintf(stderr, "jsonbench: JsonValue: %s\n", why.c_str());
            return f;
        }
        start = std::chrono::steady_clock::now();
        const JsonValue *data = json.member("printData");
        std::string unescaped;
        if (data && data->isString()) {
            base64 = data->rawText();
            if (data->hasEscapes()) {
                unescaped = data->toText();
                base64 = unescaped;
            }
        }
        f.memberMs = msSince(start);
        f.copiedMiB = inside(base64, body) ? 0 : base64.size() / MiB;
        start = std::chrono::steady_clock::now();
        decoded = decodeChecked(base64, crc);
        f.decodeMs = msSince(start);
    } else {
        auto start = std::chrono::steady_clock::now();
        const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
        f.parseMs = msSince(start);
        if (json.is_discarded() || !json.is_object()) {
            std::fprintf(stderr, "jsonbench: nlohmann::json could not parse the body\n");
            return f;
        }
        start = std::chrono::steady_clock::now();
        const auto it = json.find("printData");
        if (it != json.end() && it->is_string())
            base64 = it->get_ref<const std::string &>();
        f.memberMs = msSince(start);
        f.copiedMiB = inside(base64, body) ? 0 : base64.size() / MiB;
        start = std::chrono::steady_clock::now();
        decoded = decodeChecked(base64, crc);
        f.decodeMs = msSince(start);
    }
    const long long peak = statusBytes("VmHWM");
    if (!decoded) {
        std::fprintf(stderr, "jsonbench: %s: the decoded bytes differ from the job\n", readerName(reader));
        return f;
    }
    f.peakExtraMiB = before >= 0 && peak >= 0 ? (peak - before) / MiB : -1;
    f.ok = 1;
    return f;
}

bool runInChild(Reader reader, size_t jobBytes, Figures *out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        const Figures f = runCase(reader, jobBytes);
        const bool sent = write(fds[1], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
        _exit(sent && f.ok ? 0 : 1);
    }
    close(fds[1]);
    Figures f;
    const bool received = read(fds[0], &f, sizeof f) == static_cast<ssize_t>(sizeof f);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !f.ok)
        return false;
    *out = f;
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int usage()
{
    std::fprintf(stderr, "usage: cloudsim_jsonbench [--runs N] [JOB_MIB...]  (default: --runs 3 1 16 128)\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 3;
    std::vector<size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs < 1)
                return usage();
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            sizes.push_back(std::stoul(arg));
        } else {
            return usage();
        }
    }
    if (sizes.empty())
        sizes = { 1, 16, 128 };

    std::printf("median of %d runs, one child process per run; times in ms, sizes in MiB\n", runs);
    std::printf("%8s %9s  %-14s %9s %9s %9s %9s %11s %11s\n", "job", "body", "reader", "parse", "member",
        "decode", "total", "copy", "peak extra");
    bool allOk = true;
    for (const size_t mib : sizes) {
        const size_t jobBytes = mib * 1024 * 1024;
        const double bodyMiB = ((jobBytes + 2) / 3 * 4 + 100) / MiB;
        for (const Reader reader : { Reader::Ours, Reader::Nlohmann }) {
            std::vector<double> parse, member, decode, total, copied, peak;
            for (int r = 0; r < runs; ++r) {
                Figures f;
                if (!runInChild(reader, jobBytes, &f)) {
                    std::fprintf(stderr, "jsonbench: %s with %zu MiB failed\n", readerName(reader), mib);
                    allOk = false;
                    break;
                }
                parse.push_back(f.parseMs);
                member.push_back(f.memberMs);
                decode.push_back(f.decodeMs);
                total.push_back(f.parseMs + f.memberMs + f.decodeMs);
                copied.push_back(f.copiedMiB);
                peak.push_back(f.peakExtraMiB);
            }
            if (static_cast<int>(parse.size()) != runs)
                continue;
            std::printf("%8zu %9.1f  %-14s %9.1f %9.3f %9.1f %9.1f %11.1f %11.1f\n", mib, bodyMiB,
                readerName(reader), median(parse), median(member), median(decode), median(total),
                median(copied), median(peak));
            std::fflush(stdout);
        }
    }
    return allOk ? 0 : 1;
}
