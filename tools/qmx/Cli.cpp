#include "Cli.h"

#include "Commands.h"

#include <sstream>

namespace Quellmar::qmx {
namespace {

const OptionSpec* findOption(const Command& command, const std::string& token) {
    for (const OptionSpec& o : command.options)
        if ((!o.shortName.empty() && o.shortName == token) ||
            (!o.longName.empty() && o.longName == token))
            return &o;
    return nullptr;
}

std::string key(const OptionSpec& o) { return o.longName.empty() ? o.shortName : o.longName; }

}  // namespace

Args::Args(const Command& command, const std::vector<std::string>& argv) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string& token = argv[i];
        // A lone "-" is an operand (stdin or stdout).
        if (optionsEnded || token.size() < 2 || token[0] != '-') {
            m_positional.push_back(token);
            continue;
        }
        if (token == "--") {
            optionsEnded = true;
            continue;
        }
        if (token == "-h" || token == "--help") {
            m_help = true;
            continue;
        }
        std::string name = token;
        std::optional<std::string> inlineValue;
        if (const auto eq = token.find('='); token.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = token.substr(0, eq);
            inlineValue = token.substr(eq + 1);
        }
        const OptionSpec* option = findOption(command, name);
        if (!option && !inlineValue && token.size() > 2 && token[1] != '-') {
            // "-oOUT": a short option with its value attached.
            option = findOption(command, token.substr(0, 2));
            if (option && !option->valueName.empty()) inlineValue = token.substr(2);
            else option = nullptr;
        }
        if (!option) throw UsageError("unknown option '" + token + "'");
        if (option->valueName.empty()) {
            if (inlineValue) throw UsageError("option '" + name + "' takes no value");
            m_options[key(*option)] = "";
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argv.size())
                throw UsageError("option '" + name + "' needs a value (" + option->valueName + ")");
            inlineValue = argv[++i];
        }
        m_options[key(*option)] = *inlineValue;
    }
    if (m_help) return;
    if (m_positional.size() < command.minOperands)
        throw UsageError("missing operand; expected " + std::string(command.operands));
    if (m_positional.size() > command.maxOperands)
        throw UsageError("too many operands; expected " + std::string(command.operands));
}

bool Args::has(const std::string& longName) const { return m_options.count(longName) != 0; }

std::optional<std::string> Args::value(const std::string& longName) const {
    const auto it = m_options.find(longName);
    if (it == m_options.end()) return std::nullopt;
    return it->second;
}

std::string Args::positionalOr(std::size_t i, const std::string& fallback) const {
    return i < m_positional.size() ? m_positional[i] : fallback;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {lsCommand(),    getCommand(),     putCommand(),
                                               catCommand(),   checkCommand(),   compactCommand(),
                                               versionCommand(), sealCommand(),  demoCommand()};
    return table;
}

OptionSpec nativeOption() {
    return {"", "--native", "", "open a plain HDF5 file (no container marker)"};
}

OptionSpec verboseOption() {
    return {"-v", "--verbose", "", "show the library's log lines on stderr"};
}

std::string commandHelp(const Command& command) {
    std::ostringstream out;
    out << "Usage: qmx " << command.name << " [OPTIONS] " << command.operands << "\n\n"
        << command.summary << "\n\n"
        << command.details << "\n\nOptions:\n";
    std::vector<OptionSpec> all = command.options;
    all.push_back({"-h", "--help", "", "show this help"});
    for (const OptionSpec& o : all) {
        std::string names = o.shortName;
        if (!o.longName.empty()) names += (names.empty() ? "" : ", ") + o.longName;
        if (!o.valueName.empty()) names += " " + o.valueName;
        out << "  " << names;
        out << std::string(names.size() < 22 ? 22 - names.size() : 1, ' ') << o.help << "\n";
    }
    out << "\nExit status: 0 success, 1 a problem was found or the request failed, 2 bad usage.\n";
    return out.str();
}

std::string overallHelp() {
    std::ostringstream out;
    out << "Usage: qmx COMMAND [OPTIONS] OPERANDS...\n\n"
           "Looks inside QMZ container files, pulls objects out, puts them in, checks and\n"
           "compacts files.\n\nCommands:\n";
    for (const Command& c : commands()) {
        const std::string name = c.name;
        out << "  " << name << std::string(10 - name.size(), ' ') << c.summary << "\n";
    }
    out << "\nRun 'qmx COMMAND --help' for the options of a command.\n"
           "Exit status: 0 success, 1 a problem was found or the request failed, 2 bad usage.\n";
    return out.str();
}

}  // namespace Quellmar::qmx
