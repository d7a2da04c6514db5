// Creates a database file from a schema script, and refuses to touch a file that is already
// there: the build calls it on every run, and an existing sec.mdb holds the user's appointments.
#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_db SCHEMA.sql OUT.mdb\n");
        return 2;
    }
    // Any entry of that name counts, a link whose target is gone included: when the target
    // comes back, the appointments must still be there.
    struct stat st {};
    if (lstat(argv[2], &st) == 0) {
        std::printf("make_db: %s already exists; left as it is\n", argv[2]);
        return 0;
    }

    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_db: cannot read %s\n", argv[1]);
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();

    // Build under a temporary name and rename at the end, so that an interrupted build
    // never leaves a half-made sec.mdb that a later build would then keep.
    const std::string tmp = std::string(argv[2]) + ".new";
    std::remove(tmp.c_str());
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(tmp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "make_db: %s\n", db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return 1;
    }
    char* err = nullptr;
    if (sqlite3_exec(db, text.str().c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "make_db: %s\n", err ? err : "schema failed");
        sqlite3_free(err);
        sqlite3_close(db);
        std::remove(tmp.c_str());
        return 1;
    }
    sqlite3_close(db);
    // link() never replaces an entry that appeared meanwhile, where rename() would.
    const int linked = link(tmp.c_str(), argv[2]);
    const int error = errno;
    std::remove(tmp.c_str());
    if (linked != 0 && error == EEXIST) {
        std::printf("make_db: %s already exists; left as it is\n", argv[2]);
        return 0;
    }
    if (linked != 0) {
        std::fprintf(stderr, "make_db: %s: %s\n", argv[2], std::strerror(error));
        return 1;
    }
    return 0;
}
