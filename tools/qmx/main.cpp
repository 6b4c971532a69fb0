// qmx: command-line tool for container files. Every command works through the library.
#include "Cli.h"
#include "CrashGuard.h"
#include "Diagnostics.h"
#include "TransactionStack.h"

#include <cstring>
#include <iostream>
#include <memory>

using namespace Quellmar::qmx;

namespace {

const Command* findCommand(const std::string& name) {
    for (const Command& c : commands())
        if (name == c.name)
            return &c;
    return nullptr;
}

int usage(const std::string& where, const std::string& message) {
    std::cerr << "qmx" << where << ": " << message << "\n"
              << "Try 'qmx" << where << " --help'.\n";
    return kExitUsage;
}

int runCommand(const Command& command, const std::vector<std::string>& argv) {
    const std::string where = std::string(" ") + command.name;
    try {
        const Args args(command, argv);
        if (args.helpRequested()) {
            std::cout << commandHelp(command);
            return kExitOk;
        }
        captureLibraryLog(args.has("--verbose"));
        if (!args.positional().empty())
            installCrashGuard(command.name, args.positional(0));
        int rc = command.run(args);
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "qmx" << where << ": error writing to standard output\n";
            rc = kExitProblem;
        }
        return rc;
    } catch (const UsageError& e) {
        return usage(where, e.what());
    } catch (const std::exception& e) {
        std::cerr << "qmx" << where << ": " << e.what() << "\n";
    } catch (const std::shared_ptr<Quellmar::TransactionStack>& stack) {
        // A failed compound creation hands the caller its transaction stack.
        std::cerr << "qmx" << where << ": " << (stack ? stack->getErrorMessage() : "failed")
                  << "\n";
    } catch (...) {
        std::cerr << "qmx" << where << ": unexpected failure\n";
    }
    return kExitProblem;
}

}  // namespace

int main(int argc, char** argv) {
    captureLibraryLog(false);
    std::ios::sync_with_stdio(false);
    if (argc < 2)
        return usage("", "no command given");
    const std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help") {
        if (argc > 2) {
            if (const Command* c = findCommand(argv[2])) {
                std::cout << commandHelp(*c);
                return kExitOk;
            }
            return usage("", std::string("unknown command '") + argv[2] + "'");
        }
        std::cout << overallHelp();
        return kExitOk;
    }
    const Command* command = findCommand(first);
    if (!command)
        return usage("", "unknown command '" + first + "'");
    return runCommand(*command, std::vector<std::string>(argv + 2, argv + argc));
}
