#include "support/FaultInjectingVfs.h"

#include <QtGlobal>

#include <atomic>

#include <sqlite3.h>

namespace {

constexpr auto vfsName = "vantrel-faults";

// What the file system counts and which call it fails; a connection may live on another thread.
struct Faults
{
    sqlite3_vfs *real = nullptr;
    std::atomic<bool> counting {false};
    std::atomic<int> writes {0};
    std::atomic<int> syncs {0};
    std::atomic<int> failed {0};
    FaultInjectingVfs::Call failing = FaultInjectingVfs::Call::Write;
    int failAt = 0;
    int failure = SQLITE_OK;
    FaultInjectingVfs::Span span = FaultInjectingVfs::Span::Once;

    // The result the call gives instead of its own, or SQLITE_OK to let it through.
    int next(FaultInjectingVfs::Call call)
    {
        if (!counting.load())
            return SQLITE_OK;
        const int number =
            (call == FaultInjectingVfs::Call::Write ? writes : syncs).fetch_add(1) + 1;
        if (call != failing || failAt == 0 || number < failAt
            || (number > failAt && span == FaultInjectingVfs::Span::Once))
            return SQLITE_OK;
        failed.fetch_add(1);
        return failure;
    }
};

// A file opened through the wrapper: its own methods first, as SQLite expects, then the file of
// the real file system, which lives in the same allocation right after it.
struct WrappedFile
{
    sqlite3_file base;
    sqlite3_file *real;
    Faults *faults;
    sqlite3_io_methods methods;
};

WrappedFile *wrapped(sqlite3_file *file)
{
    return reinterpret_cast<WrappedFile *>(file);
}

Faults *faultsOf(sqlite3_vfs *vfs)
{
    return static_cast<Faults *>(vfs->pAppData);
}

// Passes a call on to the real file, or to the real file system.
template<auto method, typename... Args> auto toRealFile(sqlite3_file *file, Args... args)
{
    sqlite3_file *real = wrapped(file)->real;
    return (real->pMethods->*method)(real, args...);
}

template<auto method, typename... Args> auto toRealVfs(sqlite3_vfs *vfs, Args... args)
{
    sqlite3_vfs *real = faultsOf(vfs)->real;
    return (real->*method)(real, args...);
}

int fileWrite(sqlite3_file *file, const void *buffer, int amount, sqlite3_int64 offset)
{
    if (const int fault = wrapped(file)->faults->next(FaultInjectingVfs::Call::Write)) {
        // A disk that fails in the middle of a write has written what came before.
        toRealFile<&sqlite3_io_methods::xWrite>(file, buffer, amount / 2, offset);
        return fault;
    }
    return toRealFile<&sqlite3_io_methods::xWrite>(file, buffer, amount, offset);
}

int fileSync(sqlite3_file *file, int flags)
{
    if (const int fault = wrapped(file)->faults->next(FaultInjectingVfs::Call::Sync))
        return fault;
    return toRealFile<&sqlite3_io_methods::xSync>(file, flags);
}

int vfsOpen(sqlite3_vfs *vfs, const char *name, sqlite3_file *file, int flags, int *outFlags)
{
    using M = sqlite3_io_methods;
    auto *shim = wrapped(file);
    shim->base.pMethods = nullptr;
    shim->real = reinterpret_cast<sqlite3_file *>(shim + 1);
    shim->faults = faultsOf(vfs);
    sqlite3_vfs *realVfs = shim->faults->real;
    const int result = realVfs->xOpen(realVfs, name, shim->real, flags, outFlags);
    // SQLite calls xClose only on a file whose methods are set, even when the open failed.
    if (const sqlite3_io_methods *methods = shim->real->pMethods) {
        // The version says which of the later methods SQLite may call: those the real file has.
        shim->methods = {methods->iVersion,
                         toRealFile<&M::xClose>,
                         toRealFile<&M::xRead>,
                         fileWrite,
                         toRealFile<&M::xTruncate>,
                         fileSync,
                         toRealFile<&M::xFileSize>,
                         toRealFile<&M::xLock>,
                         toRealFile<&M::xUnlock>,
                         toRealFile<&M::xCheckReservedLock>,
                         toRealFile<&M::xFileControl>,
                         toRealFile<&M::xSectorSize>,
                         toRealFile<&M::xDeviceCharacteristics>,
                         toRealFile<&M::xShmMap>,
                         toRealFile<&M::xShmLock>,
                         toRealFile<&M::xShmBarrier>,
                         toRealFile<&M::xShmUnmap>,
                         toRealFile<&M::xFetch>,
                         toRealFile<&M::xUnfetch>};
        shim->base.pMethods = &shim->methods;
    }
    return result;
}

} // namespace

struct FaultInjectingVfs::Shim
{
    Faults faults;
    sqlite3_vfs vfs {};
};

FaultInjectingVfs::FaultInjectingVfs()
    : m_shim(std::make_unique<Shim>())
{
    if (sqlite3_initialize() != SQLITE_OK)
        qFatal("cannot initialise SQLite");
    sqlite3_vfs *real = sqlite3_vfs_find(nullptr);
    // The calls of version 3 are forwarded as they are: the real one must have them all.
    if (!real || real->iVersion < 3)
        qFatal("the default SQLite file system is not one to wrap");
    m_shim->faults.real = real;
    sqlite3_vfs &vfs = m_shim->vfs;
    vfs.iVersion = 3;
    vfs.szOsFile = int(sizeof(WrappedFile)) + real->szOsFile;
    vfs.mxPathname = real->mxPathname;
    vfs.zName = vfsName;
    vfs.pAppData = &m_shim->faults;
    vfs.xOpen = vfsOpen;
    vfs.xDelete = toRealVfs<&sqlite3_vfs::xDelete>;
    vfs.xAccess = toRealVfs<&sqlite3_vfs::xAccess>;
    vfs.xFullPathname = toRealVfs<&sqlite3_vfs::xFullPathname>;
    vfs.xDlOpen = toRealVfs<&sqlite3_vfs::xDlOpen>;
    vfs.xDlError = toRealVfs<&sqlite3_vfs::xDlError>;
    vfs.xDlSym = toRealVfs<&sqlite3_vfs::xDlSym>;
    vfs.xDlClose = toRealVfs<&sqlite3_vfs::xDlClose>;
    vfs.xRandomness = toRealVfs<&sqlite3_vfs::xRandomness>;
    vfs.xSleep = toRealVfs<&sqlite3_vfs::xSleep>;
    vfs.xCurrentTime = toRealVfs<&sqlite3_vfs::xCurrentTime>;
    vfs.xGetLastError = toRealVfs<&sqlite3_vfs::xGetLastError>;
    vfs.xCurrentTimeInt64 = toRealVfs<&sqlite3_vfs::xCurrentTimeInt64>;
    vfs.xSetSystemCall = toRealVfs<&sqlite3_vfs::xSetSystemCall>;
    vfs.xGetSystemCall = toRealVfs<&sqlite3_vfs::xGetSystemCall>;
    vfs.xNextSystemCall = toRealVfs<&sqlite3_vfs::xNextSystemCall>;
    if (sqlite3_vfs_register(&vfs, 1) != SQLITE_OK)
        qFatal("cannot put the faulty file system in force");
}

FaultInjectingVfs::~FaultInjectingVfs()
{
    sqlite3_vfs_unregister(&m_shim->vfs);
}

void FaultInjectingVfs::count()
{
    failAt(Call::Write, 0, SQLITE_OK);
}

void FaultInjectingVfs::failAt(Call call, int k, int result, Span span)
{
    Faults &faults = m_shim->faults;
    faults.counting = false;
    faults.failing = call;
    faults.failAt = k;
    faults.failure = result;
    faults.span = span;
    faults.writes = 0;
    faults.syncs = 0;
    faults.failed = 0;
    faults.counting = true;
}

void FaultInjectingVfs::stop()
{
    m_shim->faults.counting = false;
}

int FaultInjectingVfs::writes() const
{
    return m_shim->faults.writes;
}

int FaultInjectingVfs::syncs() const
{
    return m_shim->faults.syncs;
}

int FaultInjectingVfs::failed() const
{
    return m_shim->faults.failed;
}
