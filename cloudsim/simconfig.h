#ifndef SIMCONFIG_H
#define SIMCONFIG_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class JsonValue;
class JsonWriter;

// The three exchanges of the print protocol; each can be made slow or faulty on its own.
enum class Exchange { Print, Result, State };

// What the service does instead of a proper answer.
enum class Fault { None, NotFound, TooLarge, ServerError, NotJson, EmptyArray, Drop };

struct ExchangeBehaviour
{
    Fault fault = Fault::None;
    int64_t delayMs = 0;
    // The fault spares the first `skip` requests after it was set, then hits `count` of them
    // (-1: all that follow), so a test can fail exactly the N-th request.
    int64_t skip = 0;
    int64_t count = -1;
};

enum class DeviceState { Unknown, Online, Offline, Unbound };

struct Device
{
    DeviceState state = DeviceState::Online;
    // Answered in place of the state's own "code", for answers that state nothing.
    std::optional<int64_t> code;
    // Final status of this device's jobs while it is online; empty: the service-wide one.
    std::string finalStatus;
};

// How the final answer of a result query presents the job's status.
enum class ResultShape { Object, Text, EmptyObject };

// Everything about the service's behaviour that can change while it runs.
struct SimConfig
{
    ExchangeBehaviour print;
    ExchangeBehaviour result;
    ExchangeBehaviour state;
    int64_t pendingPolls = 2;
    std::string finalStatus = "打印成功";
    ResultShape resultShape = ResultShape::Object;
    DeviceState defaultDevice = DeviceState::Unknown;
    std::map<std::string, Device> devices;
    std::string jobIdPrefix = "J";

    ExchangeBehaviour &behaviour(Exchange exchange);
    const ExchangeBehaviour &behaviour(Exchange exchange) const;
    // The registered device, or one in the default state.
    Device device(const std::string &serial) const;

    // Applies the members present in a configuration object to a copy and swaps it in only when
    // all of them were valid, so a bad request never leaves half a change behind.
    bool apply(const JsonValue &object, std::string *error);
    void write(JsonWriter &out) const;
};

const char *exchangeName(Exchange exchange);
const char *faultName(Fault fault);
const char *deviceStateName(DeviceState state);
const char *resultShapeName(ResultShape shape);
std::optional<Fault> faultFromName(const std::string &name);
std::optional<DeviceState> deviceStateFromName(const std::string &name);
std::optional<ResultShape> resultShapeFromName(const std::string &name);

// A device serial is a file-name and log-line safe token: printable, no separators.
bool isAcceptableSerial(const std::string &serial);
// Job ids become file names and URL query values; the prefix must keep both safe.
bool isAcceptableJobIdPrefix(const std::string &prefix);

#endif // SIMCONFIG_H
