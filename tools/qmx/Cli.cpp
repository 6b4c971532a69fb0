#include "Cli.h"

#include "Commands.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <sstream>

namespace Quellmar::qmx {
namespace {

std::string key(const OptionSpec& o) {
    return o.longName.empty() ? o.shortName : o.longName;
}

// CLI11 wants "-o,--output" in one string.
std::string cliNames(const OptionSpec& o) {
    if (o.shortName.empty())
        return o.longName;
    if (o.longName.empty())
        return o.shortName;
    return o.shortName + "," + o.longName;
}

std::string optionNames(const CLI::Option& option) {
    std::string names;
    for (const std::string& s : option.get_snames())
        names += (names.empty() ? "-" : ", -") + s;
    for (const std::string& l : option.get_lnames())
        names += (names.empty() ? "--" : ", --") + l;
    if (option.get_expected_max() > 0)
        names += " " + option.get_type_name();
    return names;
}

// The help text of one command, laid out from the options CLI11 holds for it; -h comes last.
std::string helpText(const Command& command, const CLI::App& app) {
    std::ostringstream out;
    out << "Usage: qmx " << command.name << " [OPTIONS] " << command.operands << "\n\n"
        << app.get_description() << "\n\n"
        << app.get_footer() << "\n\nOptions:\n";
    std::vector<const CLI::Option*> listed =
        app.get_options([](const CLI::Option* o) { return o->nonpositional(); });
    const CLI::Option* help = app.get_help_ptr();
    std::erase(listed, help);
    listed.push_back(help);
    for (const CLI::Option* o : listed) {
        const std::string names = optionNames(*o);
        out << "  " << names << std::string(names.size() < 22 ? 22 - names.size() : 1, ' ')
            << o->get_description() << "\n";
    }
    out << "\nExit status: 0 success, 1 a problem was found or the request failed, 2 bad usage.\n";
    return out.str();
}

// The parser of one command: its options, "-h"/"--help", and every operand in one list.
// Unknown options are collected rather than thrown so that the message can name the token.
std::unique_ptr<CLI::App> makeParser(const Command& command, std::vector<std::string>& operands,
                                     std::map<std::string, CLI::Option*>& byKey) {
    auto app = std::make_unique<CLI::App>(command.summary, std::string("qmx ") + command.name);
    app->footer(command.details);
    app->set_help_flag("-h,--help", "show this help");
    app->allow_extras();
    app->formatter(std::make_shared<CLI::FormatterLambda>(
        [&command](const CLI::App* a, const std::string&, CLI::AppFormatMode) {
            return helpText(command, *a);
        }));
    for (const OptionSpec& o : command.options) {
        CLI::Option* option = nullptr;
        if (o.valueName.empty()) {
            option = app->add_flag(cliNames(o), o.help)->disable_flag_override();
        } else {
            option = app->add_option(cliNames(o), o.help)
                         ->type_name(o.valueName)
                         ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        }
        byKey[key(o)] = option;
    }
    app->add_option("operands", operands)->expected(0, CLI::detail::expected_max_vector_size);
    return app;
}

}  // namespace

Args::Args(const Command& command, const std::vector<std::string>& argv) {
    std::map<std::string, CLI::Option*> byKey;
    const std::unique_ptr<CLI::App> app = makeParser(command, m_positional, byKey);
    // CLI11 consumes its arguments from the back.
    std::vector<std::string> reversed(argv.rbegin(), argv.rend());
    try {
        app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        m_help = true;
        return;
    } catch (const CLI::ParseError& e) {
        // An option without its value, or a flag given one.
        throw UsageError(e.what());
    }
    // CLI11 also hands back the "--" that ended the options; what follows it are operands.
    for (const std::string& extra : app->remaining())
        if (extra.size() > 1 && extra[0] == '-' && extra != "--")
            throw UsageError("unknown option '" + extra + "'");
    for (const auto& [name, option] : byKey)
        if (option->count() > 0)
            m_options[name] = option->get_expected_max() > 0 ? option->as<std::string>() : "";
    if (m_positional.size() < command.minOperands)
        throw UsageError("missing operand; expected " + std::string(command.operands));
    if (m_positional.size() > command.maxOperands)
        throw UsageError("too many operands; expected " + std::string(command.operands));
}

bool Args::has(const std::string& longName) const {
    return m_options.count(longName) != 0;
}

std::optional<std::string> Args::value(const std::string& longName) const {
    const auto it = m_options.find(longName);
    if (it == m_options.end())
        return std::nullopt;
    return it->second;
}

std::string Args::positionalOr(std::size_t i, const std::string& fallback) const {
    return i < m_positional.size() ? m_positional[i] : fallback;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        lsCommand(),      getCommand(),     putCommand(),    catCommand(),  appendCommand(),
        checkCommand(),   compactCommand(), versionCommand(), sealCommand(), demoCommand()};
    return table;
}

OptionSpec nativeOption() {
    return {"", "--native", "", "open a plain HDF5 file (no container marker)"};
}

OptionSpec verboseOption() {
    return {"-v", "--verbose", "", "show the library's log lines on stderr"};
}

std::string commandHelp(const Command& command) {
    std::vector<std::string> operands;
    std::map<std::string, CLI::Option*> byKey;
    return makeParser(command, operands, byKey)->help();
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
