// Command-line plumbing shared by every qmx command: the command table, argument parsing (CLI11)
// and the failures that decide the exit code.
#ifndef QMX_TOOL_CLI_H
#define QMX_TOOL_CLI_H

#include <cstddef>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quellmar::qmx {

enum ExitCode { kExitOk = 0, kExitProblem = 1, kExitUsage = 2 };

// The command line cannot be used as given: exit 2 with a hint to --help.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The request failed or the file has a problem: one line on stderr, exit 1.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string shortName;  // "-o", may be empty
    std::string longName;   // "--output", may be empty
    std::string valueName;  // empty for a flag
    std::string help;
};

struct Command;

// Parsed arguments of one command. Options may stand anywhere; "--" ends them; a lone "-" is
// an operand; of a repeated option the last counts.
class Args {
public:
    Args(const Command& command, const std::vector<std::string>& argv);

    bool has(const std::string& longName) const;
    std::optional<std::string> value(const std::string& longName) const;
    const std::vector<std::string>& positional() const { return m_positional; }
    const std::string& positional(std::size_t i) const { return m_positional.at(i); }
    std::string positionalOr(std::size_t i, const std::string& fallback) const;
    bool helpRequested() const { return m_help; }

private:
    std::map<std::string, std::string> m_options;  // by long name; "" for flags
    std::vector<std::string> m_positional;
    bool m_help = false;
};

struct Command {
    const char* name;
    const char* operands;  // "FILE [GROUP]"
    const char* summary;   // one line for the command list
    const char* details;   // paragraph(s) for --help
    std::vector<OptionSpec> options;
    std::size_t minOperands;
    std::size_t maxOperands;
    int (*run)(const Args& args);
};

const std::vector<Command>& commands();
std::string commandHelp(const Command& command);
std::string overallHelp();

// Options every command that opens a file understands.
OptionSpec nativeOption();
OptionSpec verboseOption();

}  // namespace Quellmar::qmx

#endif
