#pragma once
// The command line of portflash-cli and portflash-sim: a table of options on
// CLI11, each applied as given and refused in the program's own words.
#include <CLI/CLI.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace portflash::options {

// A usage error in the program's words, thrown from inside CLI11's parse.
struct UsageError {
  std::string message;
};

template <typename Options>
struct OptionSpec {
  const char* group;
  const char* names;  // CLI11 form: "-y,--yes"; "--garbage{both}": the value when left out
  const char* value;  // the value's name in the help ("[=WHERE]" if optional), nullptr: a flag
  const char* help;
  // Stores the value (a flag: the fact); false refuses it.
  std::function<bool(Options&, const std::string&)> apply;
  const char* refusal = nullptr;  // "{}" stands for the value; else "bad value '{}' for --name"
};

// What the help and the refusals say beside the options.
struct Wording {
  const char* description;
  const char* footer;
  const char* helpFlagText;
  std::size_t columnWidth;
  std::string (*flagGivenValue)(const std::string& flag, const std::string& value);
};

// Options as "--name VALUE", "--name[=VALUE]".
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option_name(const CLI::Option* option, bool) const override {
    return option->get_name();
  }
  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text();
  }
  // CLI11 leaves two blank lines around each group.
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    std::string text = CLI::Formatter::make_help(app, std::move(name), mode);
    for (std::size_t at; (at = text.find("\n\n\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }
};

template <typename Options>
void AddOption(CLI::App& app, const Wording& wording, const OptionSpec<Options>& row,
               Options& parsed) {
  std::string flag = row.names;
  flag = flag.substr(flag.rfind(',') + 1);
  flag = flag.substr(0, flag.find('{'));
  CLI::Option* option = nullptr;
  if (row.value == nullptr) {
    option = app.add_flag(row.names);
    // A flag reads "true" when given bare, else the text after '='.
    option->each([flag, refuse = wording.flagGivenValue](const std::string& given) {
      if (given != "true") throw UsageError{refuse(flag, given)};
    });
  } else {
    const bool optional = row.value[0] == '[';
    option = optional ? app.add_flag(row.names) : app.add_option(row.names);
    option->option_text(optional ? row.value : std::string(" ") + row.value);
  }
  option->description(row.help)->group(row.group);
  // Applied as given, occurrence after occurrence.
  option->each([&row, &parsed, flag](const std::string& given) {
    if (row.apply(parsed, given)) return;
    std::string refusal = row.refusal != nullptr ? row.refusal : "bad value '{}' for " + flag;
    const std::size_t at = refusal.find("{}");
    if (at != std::string::npos) refusal.replace(at, 2, given);
    throw UsageError{std::move(refusal)};
  });
}

template <typename Options>
void Describe(CLI::App& app, const Wording& wording, const std::vector<OptionSpec<Options>>& table,
              Options& parsed,
              std::shared_ptr<HelpFormatter> formatter = std::make_shared<HelpFormatter>()) {
  app.description(wording.description);
  app.footer(wording.footer);
  formatter->column_width(wording.columnWidth);
  app.formatter(std::move(formatter));
  app.set_help_flag("-h,--help", wording.helpFlagText);
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (const OptionSpec<Options>& row : table) AddOption(app, wording, row, parsed);
}

enum class Parsed { Run, Help, UsageError };

// app.parse(args...), with the message of a usage error in `error`.
template <typename... Args>
Parsed Parse(CLI::App& app, std::string* error, Args&&... args) {
  try {
    app.parse(std::forward<Args>(args)...);
    return Parsed::Run;
  } catch (const CLI::CallForHelp&) {
    return Parsed::Help;
  } catch (const UsageError& usage) {
    *error = usage.message;
  } catch (const CLI::ArgumentMismatch& mismatch) {
    // "--port: 1 required TEXT missing": CLI11 names the option first.
    *error = mismatch.what();
    const std::size_t colon = error->find(':');
    if (colon != std::string::npos && error->compare(0, 2, "--") == 0)
      *error = error->substr(0, colon) + " needs a value";
  } catch (const CLI::ParseError& other) {
    *error = other.what();
  }
  return Parsed::UsageError;
}

}  // namespace portflash::options
