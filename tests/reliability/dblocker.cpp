// Holds a database locked the way another program writing to it would: it opens the file, starts
// a write transaction and keeps it open until its standard input closes.
//
//   dblocker FILE [exclusive]
//
// Prints "locked" once the lock is held. Without "exclusive" readers still get through and only
// writers wait; with it nobody else gets in.
#include <sqlite3.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: dblocker FILE [exclusive]\n");
        return 2;
    }
    const bool exclusive = argc > 2 && std::strcmp(argv[2], "exclusive") == 0;
    sqlite3 *db = nullptr;
    if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
        std::fprintf(stderr, "dblocker: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    const char *begin = exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE";
    if (sqlite3_exec(db, begin, nullptr, nullptr, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "dblocker: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) { }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}
