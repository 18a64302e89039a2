#include "service/agent_run.h"

int main(int argc, char** argv) {
    return farlink::service::agentMain(argc, argv);
}
