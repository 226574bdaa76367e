// The shell completion scripts of qmrctl, written from the command table: the commands, the
// options each command takes, the values of the options that have a few, and file names
// where an option names a file.

#include "cliarguments.h"
#include "clitable.h"

namespace qmr {

namespace {

std::string joined(const std::vector<std::string> &words, std::string_view between = " ")
{
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : std::string(between)) + word;
    return text;
}

std::string replaced(std::string_view text, char c, std::string_view with)
{
    std::string out;
    for (const char t : text) {
        if (t == c)
            out += with;
        else
            out += t;
    }
    return out;
}

// Inside '...' of a POSIX shell.
std::string shellQuoted(std::string_view text)
{
    return "'" + replaced(text, '\'', "'\\''") + "'";
}

std::vector<std::string> valuesOf(const CliOption &option)
{
    return option.values ? option.values() : std::vector<std::string>();
}

// Help lines as one line.
std::string summary(const std::vector<std::string_view> &help)
{
    std::string text;
    for (std::string_view line : help)
        text += (text.empty() ? "" : " ") + std::string(line);
    return text;
}

// The options a command takes beyond those of every command.
std::vector<std::string> ownOptions(const CliCommandEntry &command)
{
    std::vector<std::string> names;
    for (const CliOption &option : cliOptions()) {
        if (!option.everyCommand && cliAccepts(command, option))
            names.emplace_back(option.name);
    }
    return names;
}

std::vector<std::string> optionNames(bool everyCommand, bool valued)
{
    std::vector<std::string> names;
    for (const CliOption &option : cliOptions()) {
        if ((!everyCommand || option.everyCommand) && (!valued || !option.valueName.empty()))
            names.emplace_back(option.name);
    }
    return names;
}

std::vector<std::string> commandNames()
{
    std::vector<std::string> names;
    for (const CliCommandEntry &command : cliCommands())
        names.emplace_back(command.name);
    return names;
}

std::string bash()
{
    std::string s = "# bash completion for qmrctl (written by qmrctl --completion bash)\n"
                    "_qmrctl()\n"
                    "{\n"
                    "    local cur prev words cword split\n"
                    "    _init_completion -s || return\n"
                    "\n"
                    "    case $prev in\n";
    std::vector<std::string> free;
    for (const CliOption &option : cliOptions()) {
        const std::string name(option.name);
        if (option.files)
            s +=
                "        " + name + ")\n            _filedir\n            return\n            ;;\n";
        else if (option.values)
            s += "        " + name + ")\n            COMPREPLY=($(compgen -W " +
                 shellQuoted(joined(valuesOf(option))) +
                 " -- \"$cur\"))\n            return\n            ;;\n";
        else if (!option.valueName.empty())
            free.push_back(name);
    }
    s += "        " + joined(free, "|") +
         ")\n            return\n            ;;\n"
         "    esac\n"
         "    $split && return\n"
         "\n"
         "    local i command=\n"
         "    for ((i = 1; i < cword; i++)); do\n"
         "        case ${words[i]} in\n"
         "            " +
         joined(optionNames(false, true), "|") +
         ")\n"
         "                ((i++))\n"
         "                ;;\n"
         "            -*) ;;\n"
         "            *)\n"
         "                command=${words[i]}\n"
         "                break\n"
         "                ;;\n"
         "        esac\n"
         "    done\n"
         "\n"
         "    if [[ $cur == -* ]]; then\n"
         "        local options=" +
         shellQuoted(joined(optionNames(true, false))) +
         "\n"
         "        case $command in\n"
         "            '')\n"
         "                options=" +
         shellQuoted(joined(optionNames(false, false))) +
         "\n"
         "                ;;\n";
    for (const CliCommandEntry &command : cliCommands()) {
        if (const auto own = ownOptions(command); !own.empty())
            s += "            " + std::string(command.name) +
                 ")\n                options+=" + shellQuoted(" " + joined(own)) +
                 "\n                ;;\n";
    }
    return s +
           "        esac\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
           "    elif [[ -z $command ]]; then\n"
           "        COMPREPLY=($(compgen -W " +
           shellQuoted(joined(commandNames())) +
           " -- \"$cur\"))\n"
           "    fi\n"
           "} &&\n"
           "    complete -F _qmrctl qmrctl\n";
}

// One option as zsh's _arguments takes it.
std::string zshArgument(const CliOption &option)
{
    std::string desc = replaced(replaced(summary(option.help), '[', "\\["), ']', "\\]");
    std::string argument = std::string(option.name);
    if (option.valueName.empty())
        return shellQuoted(argument + "[" + desc + "]");
    argument += "=[" + desc + "]:" + replaced(option.valueName, ':', "\\:") + ":";
    if (option.files)
        argument += "_files";
    else if (option.values)
        argument += "(" + joined(valuesOf(option)) + ")";
    else
        argument += " ";
    return shellQuoted(argument);
}

std::string zsh()
{
    std::string s = "#compdef qmrctl\n"
                    "# zsh completion for qmrctl (written by qmrctl --completion zsh)\n"
                    "\n"
                    "local -a commands options\n"
                    "local i command\n"
                    "commands=(\n";
    for (const CliCommandEntry &command : cliCommands())
        s += "  " + shellQuoted(std::string(command.name) + ":" + summary(command.help)) + "\n";
    s += ")\n"
         "for ((i = 2; i < CURRENT; i++)); do\n"
         "  case $words[i] in\n"
         "    (" +
         joined(optionNames(false, true), "|") +
         ") (( i++ )) ;;\n"
         "    (-*) ;;\n"
         "    (*) command=$words[i]; break ;;\n"
         "  esac\n"
         "done\n"
         "options=(\n";
    for (const CliOption &option : cliOptions()) {
        if (option.everyCommand)
            s += "  " + zshArgument(option) + "\n";
    }
    s += ")\n"
         "case $command in\n";
    for (const CliCommandEntry &command : cliCommands()) {
        std::string arguments;
        for (const CliOption &option : cliOptions()) {
            if (!option.everyCommand && cliAccepts(command, option))
                arguments += " " + zshArgument(option);
        }
        if (!arguments.empty())
            s += "  (" + std::string(command.name) + ") options+=(" + arguments + ") ;;\n";
    }
    return s + "esac\n"
               "if [[ -z $command ]]; then\n"
               "  _arguments -S $options '1:command:{_describe command commands}'\n"
               "else\n"
               "  _arguments -S $options '*: :'\n"
               "fi\n";
}

std::string fishQuoted(std::string_view text)
{
    return "'" + replaced(replaced(text, '\\', "\\\\"), '\'', "\\'") + "'";
}

std::string fish()
{
    std::string s = "# fish completion for qmrctl (written by qmrctl --completion fish)\n"
                    "complete -c qmrctl -f\n";
    for (const CliCommandEntry &command : cliCommands())
        s += "complete -c qmrctl -n __fish_use_subcommand -a " + std::string(command.name) +
             " -d " + fishQuoted(summary(command.help)) + "\n";
    for (const CliOption &option : cliOptions()) {
        std::string line = "complete -c qmrctl";
        if (!option.everyCommand) {
            std::vector<std::string> takers;
            for (const CliCommandEntry &command : cliCommands()) {
                if (cliAccepts(command, option))
                    takers.emplace_back(command.name);
            }
            line += " -n " + fishQuoted("__fish_seen_subcommand_from " + joined(takers));
        }
        if (option.name == "--help")
            line += " -s h";
        line += " -l " + std::string(option.name.substr(2));
        if (option.files)
            line += " -r -F";
        else if (option.values)
            line += " -x -a " + fishQuoted(joined(valuesOf(option)));
        else if (!option.valueName.empty())
            line += " -x";
        if (!option.help.empty())
            line += " -d " + fishQuoted(summary(option.help));
        s += line + "\n";
    }
    return s;
}

} // namespace

std::string cliCompletion(std::string_view shell)
{
    if (shell == "bash")
        return bash();
    if (shell == "zsh")
        return zsh();
    if (shell == "fish")
        return fish();
    return std::string();
}

} // namespace qmr
