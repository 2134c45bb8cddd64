#include "host/program/CommandLine.h"

namespace selvo::host {

std::string TParsedCommand::Value(const std::string& option, const std::string& fallback) const {
  auto it = options.find(option);
  return it == options.end() ? fallback : it->second;
}

namespace {

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "help"; }

const TCommandSpec* FindCommand(const std::vector<TCommandSpec>& commands, const std::string& name) {
  for (const TCommandSpec& c : commands)
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace

TParsedCommand ParseCommandLine(const std::vector<std::string>& args, const std::vector<TCommandSpec>& commands) {
  TParsedCommand parsed;
  if (args.empty()) throw EUsageError("не указана команда");
  std::size_t i = 0;
  if (IsHelp(args[0])) {
    parsed.help = true;
    if (args.size() > 1 && FindCommand(commands, args[1])) parsed.command = args[1];
    return parsed;
  }
  const TCommandSpec* command = FindCommand(commands, args[0]);
  if (!command) throw EUsageError("неизвестная команда \"" + args[0] + "\"");
  parsed.command = command->name;
  for (i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.help = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    const TOptionSpec* option = nullptr;
    for (const TOptionSpec& o : command->options)
      if (o.name == name) option = &o;
    const bool several =
        command->argument.size() >= 3 && command->argument.compare(command->argument.size() - 3, 3, "...") == 0;
    if (!option && !command->argument.empty() && (parsed.arguments.empty() || several) &&
        (arg == "-" || arg.rfind("-", 0) != 0)) {
      parsed.arguments.push_back(arg);
      continue;
    }
    if (!option) {
      if (arg.rfind("-", 0) == 0) throw EUsageError("у команды " + command->name + " нет параметра " + name);
      throw EUsageError("лишний аргумент \"" + arg + "\"");
    }
    if (option->valueName.empty()) {
      if (inlineValue) throw EUsageError("параметр " + name + " не принимает значения");
    } else if (!inlineValue) {
      if (i + 1 >= args.size()) throw EUsageError("после " + name + " нужно указать " + option->valueName);
      value = args[++i];
    }
    if (!option->valueName.empty() && value.empty())
      throw EUsageError("после " + name + " нужно указать " + option->valueName);
    parsed.options[name] = value;
  }
  return parsed;
}

std::string UsageText(const std::string& program, const std::vector<TCommandSpec>& commands,
                      const std::string& command) {
  auto optionLine = [](const TOptionSpec& o) {
    std::string head = "  " + o.name + (o.valueName.empty() ? "" : " " + o.valueName);
    if (head.size() < 18) head.append(18 - head.size(), ' ');
    return head + " " + o.help + "\n";
  };
  std::string text;
  for (const TCommandSpec& c : commands) {
    if (!command.empty() && c.name != command) continue;
    std::string line = "  " + program + " " + c.name;
    for (const TOptionSpec& o : c.options) line += " [" + o.name + (o.valueName.empty() ? "" : " " + o.valueName) + "]";
    if (!c.argument.empty()) line += " " + c.argument;
    text += line + "\n      " + c.summary + "\n";
    if (!command.empty())
      for (const TOptionSpec& o : c.options) text += optionLine(o);
  }
  return "Использование:\n" + text;
}

}  // namespace selvo::host
