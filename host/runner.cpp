#include "host/runner.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/config/config_check.h"
#include "host/bus_address.h"
#include "host/vehicle_bus.h"
#include "core/module/web_services.h"
#include "platform/debug.h"
#include "platform/event_loop.h"
#include "platform/file_root.h"

namespace {
const char* const kUsage =
    "usage: webservices-host (--config | --check-config) PARAMS.json [--root DIR] [--once | --cycles N] "
    "[--format text|jsonl] [-v|-vv] [--import NAME=VALUE ...] [--mqtt URL [--mqtt-password-file FILE] "
    "[--mqtt-cafile FILE]] | --help | --version";

const char* const kHelp =
    "  --config PARAMS.json     run the module on this parameter map\n"
    "  --check-config PARAMS.json  report the map's problems and exit (0 none, 1 some)\n"
    "  --root DIR               file root of the module's built-in paths\n"
    "  --once | --cycles N      run one or N full updates, then exit\n"
    "  --format text|jsonl      how broadcasts are printed on standard output\n"
    "  -v | -vv                 progress lines and tables; and level-1 lines\n"
    "  --import NAME=VALUE      an imported symbol at start (also NAME=VALUE lines on standard input)\n"
    "  --mqtt URL               also on the vehicle bus: mqtt://[USER@]HOST[:PORT]/TOPIC/PREFIX\n"
    "                           (port 1883) or mqtts://... (TLS with the system's certificates, port 8883)\n"
    "  --mqtt-password-file FILE  the bus password, on the file's first line\n"
    "  --mqtt-cafile FILE       trust this authority for mqtts:// instead of the system's\n"
    "  --help, --version        print this help or the version and exit\n";

// With --once or --cycles: how long the run waits for the broker's acknowledgements.
constexpr std::chrono::seconds kDeliveryTimeout{10};
constexpr std::chrono::seconds kFirstConnectTimeout{2};

// The symbols the module's feeds take from the host (docs/symbols.md).
const char* const kImportedSymbols[] = {"crs", "crs_xmins", "siri_sm_point_id", "siri_sm_terminus_point_id",
                                        "open_data_point_id_list", "txc_st_next_point_id"};

struct Options {
    std::string config;
    bool checkOnly = false;  // --check-config: report the map's problems, run nothing
    std::string root;
    int cycles = 0;  // 0: run the event loop until a signal
    bool jsonl = false;
    int verbosity = 0;
    std::vector<std::string> imports;
    std::string mqttUrl;
    std::string mqttPasswordFile;
    std::string mqttCaFile;
    bool help = false;
    bool version = false;
};

struct UsageError {
    std::string message;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc) throw UsageError{std::string(argv[i]) + " needs a value"};
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--config") {
            options.config = value(i);
        } else if (arg == "--check-config") {
            options.config = value(i);
            options.checkOnly = true;
        } else if (arg == "--root") {
            options.root = value(i);
        } else if (arg == "--once") {
            options.cycles = 1;
        } else if (arg == "--cycles") {
            std::string n = value(i);
            char* end = nullptr;
            long count = std::strtol(n.c_str(), &end, 10);
            if (n.empty() || *end != '\0' || count < 1 || count > 1000000)
                throw UsageError{"--cycles takes a whole number from 1, not '" + n + "'"};
            options.cycles = static_cast<int>(count);
        } else if (arg == "--format") {
            std::string format = value(i);
            if (format != "text" && format != "jsonl") throw UsageError{"--format is text or jsonl, not '" + format + "'"};
            options.jsonl = format == "jsonl";
        } else if (arg == "-v") {
            options.verbosity = 1;
        } else if (arg == "-vv") {
            options.verbosity = 2;
        } else if (arg == "--import") {
            std::string assignment = value(i);
            if (assignment.find('=') == std::string::npos)
                throw UsageError{"--import takes NAME=VALUE, not '" + assignment + "'"};
            options.imports.push_back(assignment);
        } else if (arg == "--mqtt") {
            options.mqttUrl = value(i);
        } else if (arg == "--mqtt-password-file") {
            options.mqttPasswordFile = value(i);
        } else if (arg == "--mqtt-cafile") {
            options.mqttCaFile = value(i);
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            throw UsageError{"unknown argument '" + arg + "'"};
        }
    }
    if (options.help || options.version) return options;
    if (options.config.empty()) throw UsageError{"--config is required"};
    if (options.mqttUrl.empty() && (!options.mqttPasswordFile.empty() || !options.mqttCaFile.empty()))
        throw UsageError{"--mqtt-password-file and --mqtt-cafile need --mqtt"};
    return options;
}

std::string jsonString(const std::string& text) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, Json::Value(text));
}

std::string showLineFeeds(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

void printSymbols(std::ostream& out, bool jsonl, const std::vector<SymbolValue>& symbols) {
    for (const auto& symbol : symbols) {
        if (jsonl)
            out << "{\"name\":" << jsonString(symbol.first) << ",\"value\":" << jsonString(symbol.second) << "}\n";
        else
            out << symbol.first << " = " << showLineFeeds(symbol.second) << '\n';
    }
    out.flush();
}

void importSymbol(CWebServices& module, const std::string& assignment) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) return;
    module.SymbolUpdate(assignment.substr(0, eq), 0, assignment.substr(eq + 1));
}

// The bus's address from the options; a BusAddressError names the problem.
BusAddress busAddress(const Options& options) {
    BusAddress address = parseBusUrl(options.mqttUrl);
    if (!options.mqttPasswordFile.empty()) {
        if (address.user.empty())
            throw BusAddressError("--mqtt-password-file needs a user in the --mqtt URL (mqtt://USER@HOST/...)");
        address.password = readPasswordFile(options.mqttPasswordFile);
    }
    if (!options.mqttCaFile.empty()) {
        if (!address.tls) throw BusAddressError("--mqtt-cafile needs an mqtts:// URL");
        if (!std::ifstream(options.mqttCaFile))
            throw BusAddressError("--mqtt-cafile: cannot read '" + options.mqttCaFile + "'");
        address.caFile = options.mqttCaFile;
    }
    return address;
}

// Imports from the bus are handed over on the loop thread, as standard input's are.
void watchBusImports(CWebServices& module, CEventLoop& loop, VehicleBus& bus) {
    loop.watch(bus.importFd(), [&module, &bus] {
        for (const auto& [name, value] : bus.takeImports()) {
            if (std::find(std::begin(kImportedSymbols), std::end(kImportedSymbols), name) == std::end(kImportedSymbols)) {
                logLine(8, "webservices-host: the module imports no symbol '", name, "'; ", bus.topic("import/" + name),
                        " ignored");
                continue;
            }
            module.SymbolUpdate(name, 0, value);
        }
    });
}

// --once and --cycles end only when the broker has everything the run published.
void waitForBroker(VehicleBus& bus) {
    if (!bus.waitDelivered(kDeliveryTimeout))
        logLine(8, "webservices-host: the broker has not acknowledged every message after ", kDeliveryTimeout.count(),
                " s; ending without");
}

// Runs the event loop until SIGINT or SIGTERM; standard input lines NAME=VALUE are imports.
void runEventLoop(CWebServices& module, CEventLoop& loop) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd >= 0) {
        loop.watch(signalFd, [&loop, signalFd] {
            signalfd_siginfo info{};
            if (read(signalFd, &info, sizeof info) > 0) loop.stop();
        });
    }
    std::string pending;
    loop.watch(STDIN_FILENO, [&] {
        // Every line that is ready now, not one block per wake-up.
        int ready = 0;
        if (ioctl(STDIN_FILENO, FIONREAD, &ready) < 0 || ready < 1) ready = 1;
        std::string buffer(static_cast<size_t>(ready), '\0');
        ssize_t got = read(STDIN_FILENO, &buffer[0], buffer.size());
        if (got <= 0) {
            loop.unwatch(STDIN_FILENO);  // end of input: keep running on the timer
            return;
        }
        pending.append(buffer, 0, static_cast<size_t>(got));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
            std::string line = pending.substr(start, nl - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            importSymbol(module, line);
        }
        pending.erase(0, start);
    });
    module.SetEventLoop(loop);
    loop.run();
    if (signalFd >= 0) close(signalFd);
}

// Reports every problem of the map, one line each, without creating the
// module: no feed, no file written, no download. 0 when there is none, else 1.
int checkParameterMap(const CModuleParmMap& parmMap, const Options& options, std::ostream& out, std::ostream& err) {
    setFileRoot(options.root);
    std::vector<std::string> problems = checkConfiguration(parmMap.json());
    for (const auto& problem : problems) out << problem << '\n';
    out.flush();
    if (problems.empty())
        err << "webservices-host: " << options.config << ": no problems found\n";
    else
        err << "webservices-host: " << options.config << ": " << problems.size()
            << (problems.size() == 1 ? " problem\n" : " problems\n");
    return problems.empty() ? 0 : 1;
}
}  // namespace

int runHost(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Options options;
    BusAddress address;
    try {
        options = parseOptions(argc, argv);
        if (!options.mqttUrl.empty()) address = busAddress(options);
    } catch (const UsageError& e) {
        err << "webservices-host: " << e.message << '\n' << kUsage << '\n';
        return 2;
    } catch (const BusAddressError& e) {
        err << "webservices-host: " << e.what() << '\n';
        return 2;
    }
    if (options.help) {
        out << kUsage << '\n' << kHelp;
        return 0;
    }
    if (options.version) {
        out << "webservices-host " << WEBSERVICES_VERSION << '\n';
        return 0;
    }

    std::ifstream file(options.config, std::ios::binary);
    if (!file) {
        err << "webservices-host: cannot read parameter map '" << options.config << "'\n";
        return 2;
    }
    std::ostringstream text;
    text << file.rdbuf();
    CModuleParmMap parmMap;
    std::string error;
    if (!CModuleParmMap::fromJsonText(text.str(), parmMap, error)) {
        err << "webservices-host: invalid parameter map '" << options.config << "': " << error << '\n';
        return 2;
    }

    if (options.checkOnly) return checkParameterMap(parmMap, options, out, err);

    int mask = CDebug::kDefaultLevelMask;
    if (options.verbosity >= 1) mask |= CDebug::kProgress;
    if (options.verbosity >= 2) mask |= CDebug::kTrace;
    CDebug::setLevelMask(mask);
    setFileRoot(options.root);

    std::unique_ptr<VehicleBus> bus;
    if (!options.mqttUrl.empty()) {
        bus = std::make_unique<VehicleBus>(address);
        bus->start();
    }
    CEventLoop loop;  // outlives the module, whose timer runs on it
    auto module = std::make_unique<CWebServices>(parmMap);
    module->setBroadcastSink([&out, &options, &bus](const std::vector<SymbolValue>& symbols) {
        printSymbols(out, options.jsonl, symbols);
        if (bus) bus->publishBroadcast(symbols);
    });
    for (const auto& assignment : options.imports) importSymbol(*module, assignment);
    module->waitUntilIdle();  // imports given at start are applied before the first cycle

    if (options.cycles > 0) {
        // The run's broadcast messages reach the bus only while connected.
        if (bus && !bus->waitConnected(kFirstConnectTimeout))
            logLine(8, "webservices-host: not connected to the bus after ", kFirstConnectTimeout.count(),
                    " s; running without it for now");
        // Each cycle waits for the one before, so every cycle includes every feed.
        for (int i = 0; i < options.cycles; ++i) module->updateAllFeeds();
        if (bus) waitForBroker(*bus);
    } else {
        if (bus) watchBusImports(*module, loop, *bus);
        runEventLoop(*module, loop);
    }
    module->Shutdown();
    if (bus) bus->stop();  // "offline", acknowledged, then a clean disconnect
    return 0;
}
