#include "jobstore.h"

#include "base64.h"

#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sys/stat.h>
#include <unordered_set>

namespace {

std::string indexPath(const std::string &folder)
{
    return folder + "/index.tsv";
}

bool fileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string formatLocal(const char *format, bool withMillis)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    std::tm tm {};
    localtime_r(&secs, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    std::string out = buf;
    if (withMillis) {
        const auto ms
            = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
        char frac[8];
        std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms));
        out += frac;
    }
    return out;
}

} // namespace

std::string localTimestamp()
{
    return formatLocal("%Y-%m-%dT%H:%M:%S", true);
}

JobStore::JobStore(std::string folder)
    : m_folder(std::move(folder))
    , m_stamp(formatLocal("%Y%m%d%H%M%S", false))
{
}

JobStore::~JobStore()
{
    if (m_index)
        std::fclose(m_index);
}

bool JobStore::open(std::string *error)
{
    if (m_folder.empty())
        return true;
    if (::mkdir(m_folder.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = "cannot create " + m_folder + ": " + std::strerror(errno);
        return false;
    }
    m_index = std::fopen(indexPath(m_folder).c_str(), "a");
    if (!m_index) {
        *error = "cannot open " + indexPath(m_folder) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string JobStore::newJobId(const std::string &prefix)
{
    for (;;) {
        char counter[24];
        std::snprintf(counter, sizeof counter, "-%06llu", static_cast<unsigned long long>(++m_counter));
        std::string id = prefix + m_stamp + counter;
        // A run started within the same second in the same folder must not overwrite earlier jobs.
        if (m_folder.empty() || !fileExists(m_folder + "/" + id + ".bin"))
            return id;
    }
}

bool JobStore::storeBytes(
    JobRecord *job, std::string_view base64, std::string *error, bool *storageFailed) const
{
    *storageFailed = false;
    std::FILE *out = nullptr;
    std::string path;
    if (!m_folder.empty()) {
        path = m_folder + "/" + job->id + ".bin";
        out = std::fopen(path.c_str(), "wb");
        if (!out) {
            *error = "cannot create " + path + ": " + std::strerror(errno);
            *storageFailed = true;
            return false;
        }
    }
    uLong crc = ::crc32(0L, Z_NULL, 0);
    uint64_t size = 0;
    const bool decoded = decodeBase64(
        base64,
        [&](const char *data, size_t n) {
            // zlib takes at most a uInt per call; the slices are far smaller.
            crc = ::crc32(crc, reinterpret_cast<const Bytef *>(data), static_cast<uInt>(n));
            size += n;
            if (out && std::fwrite(data, 1, n, out) != n) {
                *storageFailed = true;
                return false;
            }
            return true;
        },
        error);
    bool written = true;
    if (out) {
        written = std::fclose(out) == 0;
        if (!decoded || !written)
            std::remove(path.c_str());
        if (decoded && !written) {
            *error = "cannot write " + path;
            *storageFailed = true;
        }
    }
    if (!decoded || !written)
        return false;
    job->size = size;
    job->crc32 = static_cast<uint32_t>(crc);
    job->file = path;
    return true;
}

void JobStore::add(JobRecord job)
{
    appendIndexLine(job);
    m_order.push_back(job.id);
    m_jobs.emplace(job.id, std::move(job));
}

JobRecord *JobStore::find(const std::string &id)
{
    const auto it = m_jobs.find(id);
    return it == m_jobs.end() ? nullptr : &it->second;
}

void JobStore::appendIndexLine(const JobRecord &job)
{
    if (!m_index)
        return;
    std::fprintf(m_index, "%s\t%s\t%llu\t%s\t%08x\n", job.id.c_str(), job.serial.c_str(),
        static_cast<unsigned long long>(job.size), job.time.c_str(), job.crc32);
    std::fflush(m_index);
}

void JobStore::clear()
{
    if (m_index) {
        std::unordered_set<std::string> ours(m_order.begin(), m_order.end());
        std::vector<std::string> kept;
        {
            std::ifstream in(indexPath(m_folder));
            std::string line;
            while (std::getline(in, line)) {
                if (ours.count(line.substr(0, line.find('\t'))) == 0)
                    kept.push_back(line);
            }
        }
        std::fclose(m_index);
        m_index = std::fopen(indexPath(m_folder).c_str(), "w");
        if (m_index) {
            for (const auto &line : kept)
                std::fprintf(m_index, "%s\n", line.c_str());
            std::fflush(m_index);
        }
        for (const auto &id : m_order)
            std::remove((m_folder + "/" + id + ".bin").c_str());
    }
    m_jobs.clear();
    m_order.clear();
}
