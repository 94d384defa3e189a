#pragma once

#include <memory>

// SQLite's default file system with faults on demand: while it lives it is the default for every
// connection opened, passes every call through to the file system that was the default before,
// counts the writes and syncs of every file SQLite opens (the database, its journal, temporary
// files) and, when told to, fails the k-th write or sync with the result given. Connections opened
// through it must be closed before it is destroyed.
class FaultInjectingVfs final
{
public:
    enum class Call { Write, Sync };
    // Whether only the k-th call fails, or every call of its kind from the k-th on, as on a disk
    // that stays full.
    enum class Span { Once, FromThenOn };

    FaultInjectingVfs();
    ~FaultInjectingVfs();
    FaultInjectingVfs(const FaultInjectingVfs &) = delete;
    FaultInjectingVfs &operator=(const FaultInjectingVfs &) = delete;

    // Counts the writes and syncs from zero on, failing none.
    void count();
    // Counts from zero on and fails the k-th call of that kind (counted from 1), or every one from
    // it on, with the result: an SQLite result code such as SQLITE_IOERR_WRITE, SQLITE_FULL or
    // SQLITE_IOERR_FSYNC. A write that fails writes the first half of its bytes.
    void failAt(Call call, int k, int result, Span span = Span::Once);
    // Stops counting and failing.
    void stop();

    int writes() const;
    int syncs() const;
    int calls(Call call) const { return call == Call::Write ? writes() : syncs(); }
    // The calls failed since the count began.
    int failed() const;

private:
    struct Shim;
    std::unique_ptr<Shim> m_shim;
};
