// koru-inband: the in-band agent's stand-in. "koru-inband" serves the shared agent block until
// SIGTERM or SIGINT; "show" prints it; "set FIELD VALUE" changes one field of the running block.
#include "inband.h"

#include "platform/console.h"
#include "platform/service_host.h"
#include "platform/shared_memory.h"
#include "platform/threads.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace farlink;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void printUsage(std::FILE* to) {
    std::fputs("Usage: koru-inband                 create the shared agent block, fill it from\n"
               "                                   TESSEL.INI and keep it until SIGTERM or SIGINT\n"
               "       koru-inband show            print every field of the block\n"
               "       koru-inband set FIELD VALUE change one field of the block\n"
               "       koru-inband --help\n"
               "\n"
               "Fields: name OfficePhone OfficeAddr HomePhone HomeAddr Pager EMail description\n"
               "        MEMORY \"I/O BUS\" \"Volume Usage\" UsedVol1..UsedVol26 (any case)\n"
               "\n"
               "The block is the POSIX shared memory named by FARLINK_SHM_NAME (default\n"
               "KoruFileMappingObject); TESSEL.INI is read from WINDIR (default /etc/farlink):\n"
               "section [manager.1] for the contact texts, [threshold] for the numbers.\n"
               "Exit codes: 0 done, 1 the block cannot be made or is not there, 2 bad usage.\n",
               to);
}

void complain(const std::string& text) {
    std::fprintf(stderr, "koru-inband: %s\n", text.c_str());
}

int serve() {
    // Before anything else, so no thread the platform starts takes a stop signal for itself.
    platform::blockStopSignals();
    const std::string name = platform::sharedBlockName();
    platform::SharedMapping mapping;
    if (!platform::createSharedMapping(name, inband::kBlockBytes, mapping)) {
        complain("cannot create the shared agent block \"" + name +
                 "\": " + std::strerror(platform::lastError()));
        return kExitFailure;
    }
    runtime::attachSharedBlock({mapping.base, mapping.size});
    inband::loadFromConfiguration();

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    platform::ServiceStatus status;
    status.currentState = platform::kStateRunning;
    if (!platform::setServiceStatus(status)) complain("cannot tell systemd it is ready");

    platform::waitForStopSignal();

    status.currentState = platform::kStateStopPending;
    platform::setServiceStatus(status);
    // The name goes first: an agent starting now finds no block rather than one about to vanish.
    platform::removeSharedMapping(name);
    runtime::attachSharedBlock({});
    platform::closeSharedMapping(mapping);
    return 0;
}

// Attaches the running block; false (with a message) when there is none.
bool attachExisting(platform::SharedMapping& mapping) {
    const std::string name = platform::sharedBlockName();
    if (!platform::openSharedMapping(name, mapping)) {
        complain("no shared agent block \"" + name + "\": " + std::strerror(platform::lastError()));
        return false;
    }
    if (mapping.size < runtime::kSharedBlockSize) {
        complain("the shared agent block \"" + name + "\" has only " +
                 std::to_string(mapping.size) + " bytes");
        platform::closeSharedMapping(mapping);
        return false;
    }
    runtime::attachSharedBlock({mapping.base, mapping.size});
    return true;
}

int show() {
    platform::SharedMapping mapping;
    if (!attachExisting(mapping)) return kExitFailure;
    for (const inband::Field& field : inband::blockFields()) {
        std::printf("%s=%s\n", field.name.c_str(), inband::showValue(field).c_str());
    }
    platform::closeSharedMapping(mapping);
    return 0;
}

int set(std::string_view fieldName, std::string_view value) {
    const inband::Field* field = inband::findField(fieldName);
    if (field == nullptr) {
        complain("no field \"" + std::string(fieldName) + "\" (see --help)");
        return kExitUsage;
    }
    std::optional<std::uint32_t> number;
    if (!field->isText) {
        number = inband::parseNumber(value);
        if (!number) {
            complain("\"" + std::string(value) + "\" is not a 32-bit number");
            return kExitUsage;
        }
    }
    platform::SharedMapping mapping;
    if (!attachExisting(mapping)) return kExitFailure;
    if (field->isText) {
        if (value.size() >= field->text.width) {
            complain(field->name + " keeps " + std::to_string(field->text.width - 1) +
                     " characters; the rest is left out");
        }
        runtime::writeText(field->text, value);
    } else {
        runtime::writeNumber(field->offset, *number);
    }
    platform::closeSharedMapping(mapping);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (argc == 1) return serve();
    if (command == "--help" || command == "-h") {
        printUsage(stdout);
        return 0;
    }
    if (command == "show" && argc == 2) return show();
    if (command == "set" && argc == 4) return set(argv[2], argv[3]);
    printUsage(stderr);
    return kExitUsage;
}
