#include "engine/UserScope.h"

#include <QByteArrayList>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <systemd/sd-bus.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using Clock = std::chrono::steady_clock;

// sd-bus waits as long as it is told: every call, and the start of a scope, gets this long.
constexpr std::chrono::microseconds callTimeout = std::chrono::seconds(2);
const QString callTimeoutText = u"2 s"_s;
constexpr uint64_t unlimited = std::numeric_limits<uint64_t>::max();

constexpr char managerName[] = "org.freedesktop.systemd1";
constexpr char managerPath[] = "/org/freedesktop/systemd1";
constexpr char managerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char propertiesInterface[] = "org.freedesktop.DBus.Properties";

struct BusClose
{
    // Closed without a flush, which could wait for ever on a peer that reads nothing.
    void operator()(sd_bus *bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref
{
    void operator()(sd_bus_message *message) const { sd_bus_message_unref(message); }
};
struct SlotUnref
{
    void operator()(sd_bus_slot *slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

class BusError final
{
public:
    BusError() = default;
    ~BusError() { sd_bus_error_free(&m_error); }
    BusError(const BusError &) = delete;
    BusError &operator=(const BusError &) = delete;
    sd_bus_error *get() { return &m_error; }

private:
    sd_bus_error m_error {}; // as SD_BUS_ERROR_NULL, which C++ cannot spell
};

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The text of a failed call: the manager's own words, or what went wrong on the way.
QString callFailure(sd_bus_error *error, int result)
{
    if (sd_bus_error_has_names(error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
        return u"no user service manager on the session bus"_s;
    if (result == -ETIMEDOUT || sd_bus_error_has_names(error, SD_BUS_ERROR_NO_REPLY))
        return u"the user service manager did not answer within "_s + callTimeoutText;
    if (sd_bus_error_is_set(error) && error->message)
        return QString::fromUtf8(error->message);
    return errorText(-result);
}

// Runs the connection until ready() holds, the connection fails or the time is up; "" or why not.
template<typename Ready>
QString runUntil(sd_bus *bus, Clock::time_point deadline, Ready ready, const QString &what)
{
    for (;;) {
        if (ready())
            return {};
        int result = sd_bus_process(bus, nullptr);
        if (result < 0)
            return u"the session bus failed: "_s + errorText(-result);
        if (result > 0)
            continue;
        if (sd_bus_is_open(bus) <= 0)
            return u"the session bus closed the connection"_s;
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return what + u" within "_s + callTimeoutText;
        result = sd_bus_wait(bus, uint64_t(left.count()));
        if (result < 0 && result != -EINTR)
            return u"the session bus failed: "_s + errorText(-result);
    }
}

// A new connection to the session bus, ready for calls, or why there is none.
Bus connectToSession(QString &problem)
{
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("XDG_RUNTIME_DIR")) {
        problem = u"no session bus: neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set"_s;
        return {};
    }
    sd_bus *opened = nullptr;
    const int result = sd_bus_open_user(&opened);
    Bus bus(opened);
    if (result < 0) {
        problem = u"the session bus cannot be reached: "_s + errorText(-result);
        return {};
    }
    sd_bus_set_method_call_timeout(bus.get(), uint64_t(callTimeout.count()));
    // The greeting is not bounded by the call timeout: a peer that never answers it would hold
    // the first call for the library's own much longer wait.
    problem = runUntil(
        bus.get(), Clock::now() + callTimeout, [&] { return sd_bus_is_ready(bus.get()) > 0; },
        u"the session bus did not answer"_s);
    if (!problem.isEmpty())
        return {};
    return bus;
}

// Calls a method of the manager without ever asking the bus to start one; fills in the
// arguments with append(message), which returns a negative errno value on failure.
template<typename Append>
Message call(sd_bus *bus, const char *path, const char *interface, const char *member,
             Append append, QString &problem, BusError &error)
{
    sd_bus_message *created = nullptr;
    int result =
        sd_bus_message_new_method_call(bus, &created, managerName, path, interface, member);
    const Message message(created);
    if (result >= 0)
        result = sd_bus_message_set_auto_start(created, 0);
    if (result >= 0)
        result = append(created);
    if (result < 0) {
        problem = errorText(-result);
        return {};
    }
    sd_bus_message *reply = nullptr;
    result = sd_bus_call(bus, created, 0, error.get(), &reply);
    if (result < 0) {
        problem = callFailure(error.get(), result);
        return {};
    }
    return Message(reply);
}

// A text property of the manager's object at path; nothing when it cannot be read.
std::optional<QByteArray> textProperty(sd_bus *bus, const char *path, const char *interface,
                                       const char *name)
{
    QString problem;
    BusError error;
    const Message reply = call(
        bus, path, propertiesInterface, "Get",
        [&](sd_bus_message *m) { return sd_bus_message_append(m, "ss", interface, name); }, problem,
        error);
    const char *value = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "v", "s", &value) < 0)
        return std::nullopt;
    return QByteArray(value);
}

QByteArray unitPath(const QString &unit)
{
    char *path = nullptr;
    if (sd_bus_path_encode("/org/freedesktop/systemd1/unit", unit.toUtf8().constData(), &path) < 0)
        return {};
    const QByteArray encoded(path);
    std::free(path);
    return encoded;
}

// Decimal digits and nothing else, as a number that fits.
std::optional<uint64_t> digits(QStringView text)
{
    if (text.isEmpty())
        return std::nullopt;
    uint64_t value = 0;
    for (const QChar digit : text) {
        if (digit < u'0' || digit > u'9' || value > (unlimited - 9) / 10)
            return std::nullopt;
        value = value * 10 + uint64_t(digit.unicode() - u'0');
    }
    return value;
}

// "N%" with at most two decimals, in hundredths of a percent.
std::optional<uint64_t> permyriad(QStringView text)
{
    if (!text.endsWith(u'%'))
        return std::nullopt;
    text.chop(1);
    const qsizetype point = text.indexOf(u'.');
    const auto whole = digits(point < 0 ? text : text.first(point));
    const QString fraction = point < 0 ? u"00"_s : text.sliced(point + 1).toString();
    const auto hundredths = fraction.isEmpty() || fraction.size() > 2
        ? std::nullopt
        : digits(fraction.leftJustified(2, u'0'));
    if (!whole || !hundredths || *whole > unlimited / 100 - 1)
        return std::nullopt;
    return *whole * 100 + *hundredths;
}

// A number of bytes with an optional decimal part and an optional suffix K, M, G, T, P or E, each
// 1024 times the one before, as systemd reads a size.
std::optional<uint64_t> size(QStringView text)
{
    static constexpr std::u16string_view suffixes = u"KMGTPE";
    uint64_t unit = 1;
    if (const auto at =
            text.isEmpty() ? suffixes.npos : suffixes.find(text.back().toUpper().unicode());
        at != suffixes.npos) {
        unit = uint64_t(1) << (10 * (at + 1));
        text.chop(1);
    }
    const qsizetype point = text.indexOf(u'.');
    const auto whole = digits(point < 0 ? text : text.first(point));
    const QStringView fractionText = point < 0 ? QStringView() : text.sliced(point + 1);
    const auto fraction = point < 0 ? std::optional<uint64_t>(0)
        : fractionText.size() <= 9  ? digits(fractionText)
                                    : std::nullopt;
    if (!whole || !fraction || *whole > unlimited / unit)
        return std::nullopt;
    // Parts of a byte do not matter; long double holds the product whole.
    const auto fractionBytes =
        uint64_t((long double)(*fraction) * unit / std::pow(10.0L, fractionText.size()));
    if (*whole * unit > unlimited - fractionBytes)
        return std::nullopt;
    return *whole * unit + fractionBytes;
}

// The limits as the manager's properties take them.
struct Limits
{
    std::optional<uint64_t> memoryBytes;
    // A share of the machine's memory, as a fraction of 2^32 - 1.
    std::optional<uint32_t> memoryScale;
    std::optional<uint64_t> cpuPerSecondUs;
};

QString readLimits(const QString &memoryMax, const QString &cpuQuota, Limits &limits)
{
    const QString memory = memoryMax.trimmed();
    if (memory == u"infinity") {
        limits.memoryBytes = unlimited;
    } else if (memory.endsWith(u'%')) {
        const auto share = permyriad(memory);
        if (!share || *share == 0 || *share > 10000)
            return u"MemoryMax="_s + memoryMax + u" is not a share of memory from 0.01% to 100%";
        // As systemd rounds a share to its property.
        limits.memoryScale =
            uint32_t((*share * std::numeric_limits<uint32_t>::max() + 5000) / 10000);
    } else if (!memory.isEmpty()) {
        const auto bytes = size(memory);
        if (!bytes || *bytes == 0)
            return u"MemoryMax="_s + memoryMax + u" is not a size, as 512M, 2G, 10% or infinity";
        limits.memoryBytes = *bytes;
    }
    const QString cpu = cpuQuota.trimmed();
    if (!cpu.isEmpty()) {
        const auto share = permyriad(cpu);
        // One hundredth of a percent of a processor is 100 µs each second.
        if (!share || *share == 0 || *share > unlimited / 100)
            return u"CPUQuota="_s + cpuQuota + u" is not a percentage of one processor, as 50%";
        limits.cpuPerSecondUs = *share * 100;
    }
    return {};
}

// Where the kernel shows cgroups: the unified hierarchy, and each controller's own on older
// systems. A path of a cgroup is found under the mount whose root it starts with.
struct CgroupMount
{
    QByteArray root;
    QByteArray point;
    QByteArrayList controllers; // empty for the unified hierarchy
    bool unified = false;
};

QByteArray unescapeMountField(const QByteArray &field)
{
    QByteArray text;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            text += char(field.mid(i + 1, 3).toInt(nullptr, 8));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::vector<CgroupMount> cgroupMounts()
{
    QFile mountInfo(u"/proc/self/mountinfo"_s);
    std::vector<CgroupMount> mounts;
    if (!mountInfo.open(QIODevice::ReadOnly))
        return mounts;
    // ID PARENT DEV ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPEROPTIONS
    for (const QByteArray &line : mountInfo.readAll().split('\n')) {
        const QByteArrayList fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 5 || dash + 3 >= fields.size())
            continue;
        const QByteArray &type = fields[dash + 1];
        if (type != "cgroup2" && type != "cgroup")
            continue;
        mounts.push_back({unescapeMountField(fields[3]), unescapeMountField(fields[4]),
                          type == "cgroup" ? fields[dash + 3].split(',') : QByteArrayList(),
                          type == "cgroup2"});
    }
    return mounts;
}

// The first line of a cgroup's file, under each mount that holds the cgroup and would have it.
QByteArray cgroupFile(const std::vector<CgroupMount> &mounts, const QByteArray &cgroup,
                      bool unified, const QByteArray &controller, const char *name)
{
    for (const CgroupMount &mount : mounts) {
        if (mount.unified != unified || (!unified && !mount.controllers.contains(controller)))
            continue;
        const QByteArray root = mount.root == "/" ? QByteArray() : mount.root;
        if (!cgroup.startsWith(QByteArray(root + '/')))
            continue;
        QFile file(QFile::decodeName(mount.point + cgroup.mid(root.size()) + '/' + name));
        if (file.open(QIODevice::ReadOnly))
            return file.readLine().trimmed();
    }
    return {};
}

// Whether the kernel holds the cgroup to a memory limit, and to a processor quota.
bool memoryLimited(const std::vector<CgroupMount> &mounts, const QByteArray &cgroup)
{
    const QByteArray unified = cgroupFile(mounts, cgroup, true, {}, "memory.max");
    if (!unified.isEmpty())
        return unified != "max";
    // The old hierarchy's "no limit" is the largest count of pages that fits in a signed 64 bits.
    bool ok = false;
    const quint64 legacy =
        cgroupFile(mounts, cgroup, false, "memory", "memory.limit_in_bytes").toULongLong(&ok);
    return ok && legacy < 0x7FFF'FFFF'FFFF'F000ULL;
}

bool processorLimited(const std::vector<CgroupMount> &mounts, const QByteArray &cgroup)
{
    const QByteArray unified = cgroupFile(mounts, cgroup, true, {}, "cpu.max");
    if (!unified.isEmpty())
        return !unified.startsWith("max");
    return cgroupFile(mounts, cgroup, false, "cpu", "cpu.cfs_quota_us").toLongLong() > 0;
}

// The end of each job, by its object path, as the manager reports them.
int recordJobRemoved(sd_bus_message *message, void *removedJobs, sd_bus_error *)
{
    uint32_t id = 0;
    const char *job = nullptr;
    const char *unit = nullptr;
    const char *result = nullptr;
    if (sd_bus_message_read(message, "uoss", &id, &job, &unit, &result) >= 0)
        (*static_cast<std::map<std::string, std::string> *>(removedJobs))[job] = result;
    return 0;
}

} // namespace

QString UserScope::unavailable()
{
    QString problem;
    const Bus bus = connectToSession(problem);
    if (!bus)
        return problem;
    BusError error;
    call(
        bus.get(), managerPath, propertiesInterface, "Get",
        [](sd_bus_message *m) {
            return sd_bus_message_append(m, "ss", managerInterface, "Version");
        },
        problem, error);
    return problem;
}

UserScope::Entered UserScope::enter(qint64 pid, const QString &entryName, const QString &memoryMax,
                                    const QString &cpuQuota)
{
    Entered entered;
    Limits limits;
    entered.problem = readLimits(memoryMax, cpuQuota, limits);
    if (!entered.problem.isEmpty())
        return entered;
    if (pid <= 1 || pid > std::numeric_limits<uint32_t>::max()) {
        entered.problem = u"no process "_s + QString::number(pid);
        return entered;
    }
    const Bus bus = connectToSession(entered.problem);
    if (!bus)
        return entered;

    // Jobs are watched before the scope is asked for: its end may come before the answer.
    std::map<std::string, std::string> removedJobs;
    sd_bus_slot *watching = nullptr;
    if (const int result =
            sd_bus_match_signal(bus.get(), &watching, managerName, managerPath, managerInterface,
                                "JobRemoved", recordJobRemoved, &removedJobs);
        result < 0) {
        entered.problem = u"the session bus failed: "_s + errorText(-result);
        return entered;
    }
    const Slot watch(watching);

    // The pid and a random part: a pid is used again, and two runners may start one at once.
    const QByteArray unit = "vantrel-run-" + QByteArray::number(pid) + '-'
        + QByteArray::number(QRandomGenerator::system()->generate() | 0x1000'0000U, 16) + ".scope";
    const QByteArray description =
        u"vantrel-autorun: %1"_s
            .arg(entryName.isEmpty() ? u"pid "_s + QString::number(pid) : entryName)
            .toUtf8();
    BusError error;
    const Message reply = call(
        bus.get(), managerPath, managerInterface, "StartTransientUnit",
        [&](sd_bus_message *m) {
            int r = sd_bus_message_append(m, "ss", unit.constData(), "fail");
            if (r >= 0)
                r = sd_bus_message_open_container(m, 'a', "(sv)");
            if (r >= 0)
                r = sd_bus_message_append(m, "(sv)(sv)(sv)", "Description", "s",
                                          description.constData(), "PIDs", "au", 1, uint32_t(pid),
                                          // A scope that failed goes too, and its name with it.
                                          "CollectMode", "s", "inactive-or-failed");
            if (r >= 0 && limits.memoryBytes)
                r = sd_bus_message_append(m, "(sv)", "MemoryMax", "t", *limits.memoryBytes);
            if (r >= 0 && limits.memoryScale)
                r = sd_bus_message_append(m, "(sv)", "MemoryMaxScale", "u", *limits.memoryScale);
            if (r >= 0 && limits.cpuPerSecondUs)
                r = sd_bus_message_append(m, "(sv)", "CPUQuotaPerSecUSec", "t",
                                          *limits.cpuPerSecondUs);
            if (r >= 0)
                r = sd_bus_message_close_container(m);
            if (r >= 0)
                r = sd_bus_message_append(m, "a(sa(sv))", 0);
            return r;
        },
        entered.problem, error);
    const char *job = nullptr;
    if (!reply)
        return entered;
    if (const int result = sd_bus_message_read(reply.get(), "o", &job); result < 0) {
        entered.problem =
            u"the user service manager's answer cannot be read: "_s + errorText(-result);
        return entered;
    }
    entered.problem = runUntil(
        bus.get(), Clock::now() + callTimeout, [&] { return removedJobs.contains(job); },
        u"the scope was not started"_s);
    if (!entered.problem.isEmpty())
        return entered;
    if (const std::string &result = removedJobs[job]; result != "done") {
        entered.problem = u"the user service manager could not start the scope: "_s
            + QString::fromStdString(result);
        return entered;
    }
    entered.unit = QString::fromLatin1(unit);

    // The manager takes limits whose controllers it was not given and does nothing with them, so
    // whether one is in force is the kernel's word, not the unit's.
    const QByteArray path = unitPath(entered.unit);
    const QByteArray controlGroup =
        textProperty(bus.get(), path.constData(), "org.freedesktop.systemd1.Scope", "ControlGroup")
            .value_or(QByteArray());
    const std::vector<CgroupMount> mounts =
        controlGroup.isEmpty() ? std::vector<CgroupMount>() : cgroupMounts();
    const bool memoryAsked =
        limits.memoryScale || (limits.memoryBytes && *limits.memoryBytes != unlimited);
    if (memoryAsked && !memoryLimited(mounts, controlGroup))
        entered.limitsNotApplied.append(u"MemoryMax="_s + memoryMax.trimmed());
    if (limits.cpuPerSecondUs && !processorLimited(mounts, controlGroup))
        entered.limitsNotApplied.append(u"CPUQuota="_s + cpuQuota.trimmed());
    return entered;
}

QString UserScope::end(const QString &unit, bool ask)
{
    QString problem;
    const Bus bus = connectToSession(problem);
    if (!bus)
        return problem;
    const QByteArray name = unit.toUtf8();
    BusError error;
    const Message reply = call(
        bus.get(), managerPath, managerInterface, "KillUnit",
        [&](sd_bus_message *m) {
            return sd_bus_message_append(m, "ssi", name.constData(), "all",
                                         int32_t(ask ? SIGTERM : SIGKILL));
        },
        problem, error);
    // Everything in it has ended already and the manager has let the scope go.
    if (!reply && sd_bus_error_has_name(error.get(), "org.freedesktop.systemd1.NoSuchUnit"))
        return {};
    return problem;
}

bool UserScope::isEmpty(const QString &unit)
{
    QString problem;
    const Bus bus = connectToSession(problem);
    if (!bus)
        return false;
    // A scope is active while anything in it runs; the manager knows an unknown name as inactive.
    const auto state = textProperty(bus.get(), unitPath(unit).constData(),
                                    "org.freedesktop.systemd1.Unit", "ActiveState");
    return state && (*state == "inactive" || *state == "failed");
}
