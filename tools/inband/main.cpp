// koru-inband: the in-band agent's stand-in. "koru-inband" serves the shared agent block until
// SIGTERM or SIGINT; "show" prints it; "set FIELD VALUE" changes one field of it; "remove"
// removes it.
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
    std::fputs(
        "Usage: koru-inband                 create (or take) the shared agent block, fill it\n"
        "                                   from TESSEL.INI and serve until SIGTERM or SIGINT\n"
        "       koru-inband show            print every field of the block\n"
        "       koru-inband set FIELD VALUE change one field of the block\n"
        "       koru-inband remove          remove the block (it outlives both agents)\n"
        "       koru-inband --help\n"
        "\n"
        "Fields: name OfficePhone OfficeAddr HomePhone HomeAddr Pager EMail description\n"
        "        MEMORY \"I/O BUS\" \"Volume Usage\" UsedVol1..UsedVol26 (any case)\n"
        "\n"
        "The block is the POSIX shared memory named by FARLINK_SHM_NAME (default\n"
        "KoruFileMappingObject), read-write for its owner only, or for the group named by\n"
        "FARLINK_SHM_GROUP as well; a block of another user, or one that others may write,\n"
        "is refused. TESSEL.INI is read from WINDIR (default /etc/farlink):\n"
        "section [manager.1] for the contact texts, [threshold] for the numbers.\n"
        "Exit codes: 0 done, 1 the block cannot be made or is not there, 2 bad usage.\n",
        to);
}

void complain(const std::string& text) {
    std::fprintf(stderr, "koru-inband: %s\n", text.c_str());
}

// The reason a block could not be made or taken, for the operator.
std::string whyNot(const std::string& refusal) {
    return refusal.empty() ? std::strerror(platform::lastError()) : refusal;
}

int serve() {
    // Before anything else, so no thread the platform starts takes a stop signal for itself.
    platform::blockStopSignals();
    const std::string name = platform::sharedBlockName();
    platform::SharedRegion region;
    std::string refusal;
    if (!platform::createSharedRegion(name, inband::kBlockBytes, region, refusal)) {
        complain("cannot create the shared agent block \"" + name + "\": " + whyNot(refusal));
        return kExitFailure;
    }
    runtime::attachSharedBlock(name, region);
    inband::loadFromConfiguration();

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    platform::ServiceStatus status;
    status.currentState = platform::kStateRunning;
    if (!platform::setServiceStatus(status)) complain("cannot tell systemd it is ready");

    platform::waitForStopSignal();

    status.currentState = platform::kStateStopPending;
    platform::setServiceStatus(status);
    // The block stays: it is the suite's meeting point, and the out-of-band agent keeps serving
    // and changing it while this one restarts.
    runtime::detachSharedBlock();
    return 0;
}

// Attaches the running block; false (with a message) when there is none or it is refused.
bool attachExisting() {
    const std::string name = platform::sharedBlockName();
    platform::SharedRegion region;
    std::string refusal;
    if (!platform::openSharedRegion(name, runtime::kSharedBlockSize, region, refusal)) {
        complain("no usable shared agent block \"" + name + "\": " + whyNot(refusal));
        return false;
    }
    runtime::attachSharedBlock(name, region);
    return true;
}

int show() {
    if (!attachExisting()) return kExitFailure;
    for (const inband::Field& field : inband::blockFields()) {
        std::printf("%s=%s\n", field.name.c_str(), inband::showValue(field).c_str());
    }
    runtime::detachSharedBlock();
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
    if (!attachExisting()) return kExitFailure;
    bool written;
    if (field->isText) {
        if (value.size() >= field->text.width) {
            complain(field->name + " keeps " + std::to_string(field->text.width - 1) +
                     " characters; the rest is left out");
        }
        written = runtime::writeText(field->text, value);
    } else {
        written = runtime::writeNumber(field->offset, *number);
    }
    runtime::detachSharedBlock();
    if (!written) {
        complain("the shared agent block no longer holds " + field->name);
        return kExitFailure;
    }
    return 0;
}

int removeBlock() {
    const std::string name = platform::sharedBlockName();
    if (!platform::removeSharedRegion(name)) {
        complain("cannot remove the shared agent block \"" + name +
                 "\": " + std::strerror(platform::lastError()));
        return kExitFailure;
    }
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
    if (command == "remove" && argc == 2) return removeBlock();
    printUsage(stderr);
    return kExitUsage;
}
