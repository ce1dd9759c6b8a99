#include "simconfig.h"

#include "jsonvalue.h"
#include "jsonwriter.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<Fault, const char *>, 7> FaultNames { {
    { Fault::None, "none" },
    { Fault::NotFound, "404" },
    { Fault::TooLarge, "413" },
    { Fault::ServerError, "500" },
    { Fault::NotJson, "non-json" },
    { Fault::EmptyArray, "empty-array" },
    { Fault::Drop, "drop" },
} };

constexpr std::array<std::pair<DeviceState, const char *>, 4> DeviceStateNames { {
    { DeviceState::Unknown, "unknown" },
    { DeviceState::Online, "online" },
    { DeviceState::Offline, "offline" },
    { DeviceState::Unbound, "unbound" },
} };

constexpr std::array<std::pair<ResultShape, const char *>, 3> ResultShapeNames { {
    { ResultShape::Object, "object" },
    { ResultShape::Text, "text" },
    { ResultShape::EmptyObject, "empty-object" },
} };

template<typename E, size_t N>
const char *nameOf(const std::array<std::pair<E, const char *>, N> &names, E value)
{
    for (const auto &n : names) {
        if (n.first == value)
            return n.second;
    }
    return "";
}

template<typename E, size_t N>
std::optional<E> valueOf(const std::array<std::pair<E, const char *>, N> &names, const std::string &name)
{
    for (const auto &n : names) {
        if (name == n.second)
            return n.first;
    }
    return std::nullopt;
}

bool readCount(const JsonValue &v, const std::string &what, int64_t min, int64_t *out, std::string *error)
{
    int64_t n = 0;
    if (!v.toInt64(&n) || n < min) {
        *error = what + " must be an integer of at least " + std::to_string(min);
        return false;
    }
    *out = n;
    return true;
}

bool readText(const JsonValue &v, const std::string &what, std::string *out, std::string *error)
{
    if (!v.isString()) {
        *error = what + " must be a string";
        return false;
    }
    *out = v.toText();
    return true;
}

bool applyBehaviour(const JsonValue &v, const std::string &what, ExchangeBehaviour *b, std::string *error)
{
    if (!v.isObject()) {
        *error = what + " must be an object";
        return false;
    }
    for (const auto &[key, value] : v.members()) {
        const std::string where = what + "." + key;
        if (key == "fault") {
            std::string name;
            if (!readText(value, where, &name, error))
                return false;
            const auto fault = faultFromName(name);
            if (!fault) {
                *error = where + ": unknown fault \"" + name
                    + "\" (none, 404, 413, 500, non-json, empty-array, drop)";
                return false;
            }
            b->fault = *fault;
        } else if (key == "delayMs") {
            if (!readCount(value, where, 0, &b->delayMs, error))
                return false;
        } else if (key == "skip") {
            if (!readCount(value, where, 0, &b->skip, error))
                return false;
        } else if (key == "count") {
            if (!readCount(value, where, -1, &b->count, error))
                return false;
        } else {
            *error = "unknown member " + where;
            return false;
        }
    }
    return true;
}

bool applyDevice(const std::string &serial, const JsonValue &v, SimConfig *cfg, std::string *error)
{
    const std::string what = "devices." + serial;
    if (!isAcceptableSerial(serial)) {
        *error = what + ": not an acceptable serial";
        return false;
    }
    Device device;
    const auto known = cfg->devices.find(serial);
    if (known != cfg->devices.end())
        device = known->second;

    std::string stateName;
    if (v.isString()) {
        stateName = v.toText();
    } else if (v.isObject()) {
        for (const auto &[key, value] : v.members()) {
            if (key == "state") {
                if (!readText(value, what + ".state", &stateName, error))
                    return false;
            } else if (key == "code") {
                int64_t code = 0;
                if (value.isNull()) {
                    device.code.reset();
                } else if (value.toInt64(&code)) {
                    device.code = code;
                } else {
                    *error = what + ".code must be an integer or null";
                    return false;
                }
            } else if (key == "finalStatus") {
                if (!readText(value, what + ".finalStatus", &device.finalStatus, error))
                    return false;
            } else {
                *error = "unknown member " + what + "." + key;
                return false;
            }
        }
    } else {
        *error = what + " must be a state name or an object";
        return false;
    }

    if (!stateName.empty()) {
        const auto state = deviceStateFromName(stateName);
        if (!state) {
            *error = what + ": unknown state \"" + stateName + "\" (online, offline, unbound, unknown)";
            return false;
        }
        // Forgetting a device is how it becomes unknown again.
        if (*state == DeviceState::Unknown) {
            cfg->devices.erase(serial);
            return true;
        }
        device.state = *state;
    }
    cfg->devices[serial] = device;
    return true;
}

void writeBehaviour(const ExchangeBehaviour &b, JsonWriter &out)
{
    out.beginObject();
    out.key("fault").value(faultName(b.fault));
    out.key("delayMs").value(b.delayMs);
    out.key("skip").value(b.skip);
    out.key("count").value(b.count);
    out.endObject();
}

} // namespace

const char *exchangeName(Exchange exchange)
{
    switch (exchange) {
    case Exchange::Print:
        return "print";
    case Exchange::Result:
        return "result";
    case Exchange::State:
        return "state";
    }
    return "";
}

const char *faultName(Fault fault)
{
    return nameOf(FaultNames, fault);
}
const char *deviceStateName(DeviceState state)
{
    return nameOf(DeviceStateNames, state);
}
const char *resultShapeName(ResultShape shape)
{
    return nameOf(ResultShapeNames, shape);
}

std::optional<Fault> faultFromName(const std::string &name)
{
    // "[]" is what the answer looks like, so it is accepted as a name too.
    if (name == "[]")
        return Fault::EmptyArray;
    return valueOf(FaultNames, name);
}

std::optional<DeviceState> deviceStateFromName(const std::string &name)
{
    return valueOf(DeviceStateNames, name);
}

std::optional<ResultShape> resultShapeFromName(const std::string &name)
{
    return valueOf(ResultShapeNames, name);
}

bool isAcceptableSerial(const std::string &serial)
{
    if (serial.size() > 128)
        return false;
    for (const char c : serial) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return false;
    }
    return true;
}

bool isAcceptableJobIdPrefix(const std::string &prefix)
{
    if (prefix.size() > 64 || (!prefix.empty() && prefix[0] == '.'))
        return false;
    for (const char c : prefix) {
        const auto u = static_cast<unsigned char>(c);
        // Path separators would escape the jobs folder; + # & % ? would not come back unchanged
        // through a query string.
        if (u < 0x20 || u == 0x7F || std::string_view("/\\+#&%?").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

ExchangeBehaviour &SimConfig::behaviour(Exchange exchange)
{
    return exchange == Exchange::Print ? print : exchange == Exchange::Result ? result : state;
}

const ExchangeBehaviour &SimConfig::behaviour(Exchange exchange) const
{
    return exchange == Exchange::Print ? print : exchange == Exchange::Result ? result : state;
}

Device SimConfig::device(const std::string &serial) const
{
    const auto it = devices.find(serial);
    if (it != devices.end())
        return it->second;
    Device d;
    d.state = defaultDevice;
    return d;
}

bool SimConfig::apply(const JsonValue &object, std::string *error)
{
    if (!object.isObject()) {
        *error = "the configuration must be a JSON object";
        return false;
    }
    SimConfig next = *this;
    for (const auto &[key, value] : object.members()) {
        bool ok = true;
        if (key == "print" || key == "result" || key == "state") {
            ExchangeBehaviour &b = key == "print" ? next.print : key == "result" ? next.result : next.state;
            ok = applyBehaviour(value, key, &b, error);
        } else if (key == "pendingPolls") {
            ok = readCount(value, key, 0, &next.pendingPolls, error);
        } else if (key == "finalStatus") {
            ok = readText(value, key, &next.finalStatus, error);
        } else if (key == "resultShape") {
            std::string name;
            ok = readText(value, key, &name, error);
            const auto shape = resultShapeFromName(name);
            if (ok && !shape) {
                *error = "resultShape: unknown shape \"" + name + "\" (object, text, empty-object)";
                ok = false;
            }
            if (ok)
                next.resultShape = *shape;
        } else if (key == "defaultDevice") {
            std::string name;
            ok = readText(value, key, &name, error);
            const auto state = deviceStateFromName(name);
            if (ok && !state) {
                *error = "defaultDevice: unknown state \"" + name + "\"";
                ok = false;
            }
            if (ok)
                next.defaultDevice = *state;
        } else if (key == "devices") {
            if (!value.isObject()) {
                *error = "devices must be an object of serial: state";
                ok = false;
            }
            for (const auto &[serial, device] : value.members()) {
                if (!ok || !applyDevice(serial, device, &next, error)) {
                    ok = false;
                    break;
                }
            }
        } else if (key == "jobIdPrefix") {
            ok = readText(value, key, &next.jobIdPrefix, error);
            if (ok && !isAcceptableJobIdPrefix(next.jobIdPrefix)) {
                *error = "jobIdPrefix: at most 64 printable characters, none of / \\ + # & % ?, "
                         "not starting with a dot";
                ok = false;
            }
        } else {
            *error = "unknown member " + key;
            ok = false;
        }
        if (!ok)
            return false;
    }
    *this = std::move(next);
    return true;
}

void SimConfig::write(JsonWriter &out) const
{
    out.beginObject();
    out.key("print");
    writeBehaviour(print, out);
    out.key("result");
    writeBehaviour(result, out);
    out.key("state");
    writeBehaviour(state, out);
    out.key("pendingPolls").value(pendingPolls);
    out.key("finalStatus").value(finalStatus);
    out.key("resultShape").value(resultShapeName(resultShape));
    out.key("defaultDevice").value(deviceStateName(defaultDevice));
    out.key("devices").beginObject();
    for (const auto &[serial, device] : devices) {
        out.key(serial).beginObject();
        out.key("state").value(deviceStateName(device.state));
        out.key("code");
        if (device.code)
            out.value(*device.code);
        else
            out.null();
        out.key("finalStatus").value(device.finalStatus);
        out.endObject();
    }
    out.endObject();
    out.key("jobIdPrefix").value(jobIdPrefix);
    out.endObject();
}
