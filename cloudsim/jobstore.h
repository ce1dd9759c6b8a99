#ifndef JOBSTORE_H
#define JOBSTORE_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct JobRecord
{
    std::string id;
    std::string serial;
    std::string time; // local time of arrival
    uint64_t size = 0;
    uint32_t crc32 = 0;
    std::string file; // where the bytes are kept; empty when they are not
    int64_t pendingPolls = 0;
    int64_t queries = 0; // result queries answered so far
    std::optional<std::string> finalStatus; // fixed once the job has ended
};

// The jobs the service has accepted. With a folder, each job's decoded bytes are kept as
// <folder>/<id>.bin and described by a line of <folder>/index.tsv; without one only the facts
// (size, CRC-32) are kept, which is what benchmarks with large jobs want.
// Not locked: its owner serialises every call except storeBytes.
class JobStore
{
public:
    explicit JobStore(std::string folder);
    ~JobStore();
    JobStore(const JobStore &) = delete;
    JobStore &operator=(const JobStore &) = delete;

    // Creates the folder when needed and opens the index for appending.
    bool open(std::string *error);
    const std::string &folder() const { return m_folder; }

    std::string newJobId(const std::string &prefix);
    // Decodes the Base64 job into the job's file (if kept) and fills size, CRC-32 and file.
    // Touches nothing but that file, so it may run while other calls are made. On failure
    // *storageFailed tells a fault of ours (the disk) from malformed Base64.
    bool storeBytes(JobRecord *job, std::string_view base64, std::string *error, bool *storageFailed) const;
    void add(JobRecord job);
    JobRecord *find(const std::string &id);
    const std::vector<std::string> &order() const { return m_order; }
    // Forgets every job of this run, removes their files and their index lines.
    void clear();

private:
    void appendIndexLine(const JobRecord &job);

    std::string m_folder;
    std::FILE *m_index = nullptr;
    std::string m_stamp;
    uint64_t m_counter = 0;
    std::unordered_map<std::string, JobRecord> m_jobs;
    std::vector<std::string> m_order;
};

// Local time as "YYYY-MM-DDTHH:MM:SS.mmm".
std::string localTimestamp();

#endif // JOBSTORE_H
