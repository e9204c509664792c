// `ravelon config`: the sources' settings in the registry store.
//
//   ravelon config list [SOURCE]
//   ravelon config get SOURCE NAME
//   ravelon config set SOURCE NAME VALUE
//   ravelon config delete SOURCE [NAME]
//   ravelon config add-source NAME [--url PATH --address HOST --port N ...]
//   ravelon config import FILE|-
//   ravelon config export [FILE|-] [--key KEY]
//   ravelon config web-login USER [--password TEXT] | --off
//
// --registry FILE and --root ROOT may go before or after the subcommand.
#include <memory>

#include "cli/command.h"
#include "config/config_actions.h"
#include "config/source_values.h"

namespace ravelon::cli {
namespace {

using Work = int (*)(const ConfigOptions&);

CLI::App* AddAction(CLI::App& config, const std::string& name, const std::string& description,
                    Action& action, const std::shared_ptr<ConfigOptions>& options, Work work) {
  CLI::App* command = config.add_subcommand(name, description);
  command->fallthrough();  // --registry and --root after the subcommand too
  command->callback(
      [&action, options, work] { action = [options, work] { return work(*options); }; });
  return command;
}

// One option per value a source holds, from the table of source values:
// --name VALUE, or --name / --no-name for a switch.
void AddSourceValueOptions(CLI::App& command, const std::shared_ptr<ConfigOptions>& options) {
  for (const SourceValueInfo& info : SourceValues()) {
    if (info.flag.empty()) continue;
    const std::string flag = "--" + std::string(info.flag);
    const std::string name(info.name);
    const std::string fallback = info.fallback.empty() ? "\"\"" : std::string(info.fallback);
    const std::string help = std::string(info.help) + " (" + name +
                             (info.has_default ? ", default " + fallback : "") + ")";
    if (info.kind == SourceValueKind::kSwitch) {
      command.add_flag_callback(
          flag, [options, name] { options->given[name] = "1"; }, help);
      command.add_flag_callback(
          "--no-" + std::string(info.flag), [options, name] { options->given[name] = "0"; },
          "the opposite of " + flag);
    } else {
      command
          .add_option_function<std::string>(
              flag, [options, name](const std::string& text) { options->given[name] = text; }, help)
          ->option_text("VALUE");
    }
  }
}

}  // namespace

void AddConfigCommand(CLI::App& app, Action& action) {
  auto o = std::make_shared<ConfigOptions>();
  CLI::App* config =
      app.add_subcommand("config", "Reads and writes the sources' settings in the registry store");
  config->require_subcommand(1);
  AddRegistryOptions(*config, o->registry);

  CLI::App* list = AddAction(*config, "list", "Lists the sources, or one source's values", action,
                             o, ListConfig);
  list->add_option("source", o->source, "show this source's values as Name = value");

  CLI::App* get = AddAction(*config, "get", "Prints one value of a source", action, o, GetValue);
  get->add_option("source", o->source, "the source")->required();
  get->add_option("name", o->name, "the value's name, e.g. Url")->required();

  CLI::App* set =
      AddAction(*config, "set", "Writes one value of a source, checked first", action, o, SetValue);
  set->add_option("source", o->source, "the source")->required();
  set->add_option("name", o->name, "the value's name: " + SourceValueNames())->required();
  set->add_option("value", o->value, "the new value")->required();

  CLI::App* remove = AddAction(*config, "delete", "Deletes a source, or one value of a source",
                               action, o, DeleteConfig);
  remove->add_option("source", o->source, "the source")->required();
  remove->add_option("name", o->name, "the value to delete (default: the whole source)");

  CLI::App* add = AddAction(*config, "add-source",
                            "Adds a source with the values given and the defaults of the rest",
                            action, o, AddSource);
  add->add_option("name", o->source, "the new source's name")->required();
  AddSourceValueOptions(*add, o);

  CLI::App* import = AddAction(*config, "import",
                               "Writes the keys and values of a Windows .reg file into the store",
                               action, o, ImportRegFile);
  import->add_option("file", o->file, "the .reg file, or - for standard input")->required();

  CLI::App* exported =
      AddAction(*config, "export", "Writes the registry root (or --key) as a Windows .reg file",
                action, o, ExportRegFile);
  exported->add_option("file", o->file, "the .reg file to write, or - for standard output")
      ->capture_default_str();
  exported->add_option("--key", o->key,
                       "the key to export: a path below HKEY_LOCAL_MACHINE, or one that begins "
                       "with HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER (default: the root)");
  CLI::App* web = AddAction(*config, "web-login",
                            "Sets the user and password that the web view of `record --http` "
                            "asks for, or removes them",
                            action, o, SetWebLogin);
  CLI::Option* user = web->add_option("user", o->user, "the user name");
  CLI::Option* password =
      web->add_option_function<std::string>(
             "--password", [o](const std::string& text) { o->password = text; },
             "the password (default: one line of standard input, which keeps it out of the "
             "shell's history)")
          ->option_text("TEXT");
  web->add_flag("--off", o->off, "remove the login: the web view asks for none")
      ->excludes(user)
      ->excludes(password);
  config->footer(
      "Sources are the keys under ROOT\\Src\\ in HKEY_LOCAL_MACHINE; every value is text.");
}

}  // namespace ravelon::cli
