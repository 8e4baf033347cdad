#include "platform/headless/script_driver.h"

#include <charconv>
#include <optional>

#include <nlohmann/json.hpp>

#include "platform/headless/json_dump.h"

namespace kopiensieb {

namespace {

constexpr std::string_view kWhitespace = " \t\r\n\v\f";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

// Splits off the first word; the rest keeps its inner spacing (a JSON text may hold spaces).
std::string_view TakeWord(std::string_view& text) {
  text = Trimmed(text);
  const std::size_t end = text.find_first_of(kWhitespace);
  const std::string_view word = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : Trimmed(text.substr(end));
  return word;
}

std::optional<int> ParseInteger(std::string_view word) {
  int value = 0;
  const char* const end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  if (word.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> ParseJsonText(std::string_view literal) {
  const nlohmann::json parsed = nlohmann::json::parse(literal, nullptr, false);
  if (!parsed.is_string()) {
    return std::nullopt;
  }
  return parsed.get<std::string>();
}

// The words after the keyword, as integers: exactly `count` of them, or at least one when
// count is 0.
std::optional<std::vector<int>> ParseIntegers(std::string_view rest, std::size_t count) {
  std::vector<int> values;
  while (!rest.empty()) {
    const std::optional<int> value = ParseInteger(TakeWord(rest));
    if (!value) {
      return std::nullopt;
    }
    values.push_back(*value);
  }
  const bool fits = count == 0 ? !values.empty() : values.size() == count;
  if (!fits) {
    return std::nullopt;
  }
  return values;
}

ScriptLine Malformed(std::string reason) {
  return script::Malformed{std::move(reason)};
}

ScriptLine ParseChooser(std::string_view rest) {
  const std::optional<std::string> folder = ParseJsonText(rest);
  if (!folder) {
    return Malformed("chooser wants one JSON string: chooser \"/path/\"");
  }
  return script::Chooser{*folder};
}

ScriptLine ParseType(std::string_view rest) {
  const std::optional<int> control = ParseInteger(TakeWord(rest));
  const std::optional<std::string> text = ParseJsonText(rest);
  if (!control || !text) {
    return Malformed("type wants a control number and a JSON string: type 12 \"*.txt\"");
  }
  return script::Type{*control, *text};
}

}  // namespace

ScriptLine ParseScriptLine(std::string_view line) {
  std::string_view rest = Trimmed(line);
  if (rest.empty() || rest.front() == '#') {
    return script::Skip{};
  }
  const std::string_view keyword = TakeWord(rest);
  if (keyword == "chooser") {
    return ParseChooser(rest);
  }
  if (keyword == "type") {
    return ParseType(rest);
  }
  if (keyword == "chooser-cancel" || keyword == "dump") {
    if (!rest.empty()) {
      return Malformed(std::string(keyword) + " takes no arguments");
    }
    if (keyword == "dump") {
      return script::Dump{};
    }
    return script::Chooser{""};
  }
  if (keyword == "select") {
    const auto numbers = ParseIntegers(rest, 0);
    if (!numbers || numbers->size() < 2) {
      return Malformed("select wants a control number and rows: select 4 0");
    }
    return script::Select{numbers->front(), std::vector<int>(numbers->begin() + 1, numbers->end())};
  }
  if (keyword == "doubleclick") {
    const auto numbers = ParseIntegers(rest, 2);
    if (!numbers) {
      return Malformed("doubleclick wants a control number and one row: doubleclick 4 0");
    }
    return script::DoubleClick{(*numbers)[0], (*numbers)[1]};
  }
  if (keyword == "click" || keyword == "idle" || keyword == "close") {
    const auto numbers = ParseIntegers(rest, 1);
    if (!numbers) {
      return Malformed(std::string(keyword) + " wants one number");
    }
    const int number = numbers->front();
    if (keyword == "click") {
      return script::Click{number};
    }
    if (keyword == "idle") {
      return script::Idle{number};
    }
    return script::Close{number};
  }
  return Malformed("unknown command \"" + std::string(keyword) + "\"");
}

ScriptDriver::ScriptDriver(ScriptTarget& target, std::istream& script, std::ostream& out,
                           std::ostream& errors)
    : target_(target), script_(script), out_(out), errors_(errors) {}

bool ScriptDriver::FillQueue() {
  std::string line;
  while (std::getline(script_, line)) {
    ++lineNumber_;
    if (Apply(ParseScriptLine(line))) {
      return true;
    }
  }
  return false;
}

bool ScriptDriver::Apply(const ScriptLine& line) {
  struct Visitor {
    ScriptDriver& driver;
    ScriptTarget& widgets;
    bool operator()(const script::Skip&) const { return false; }
    bool operator()(const script::Chooser& chooser) const {
      widgets.QueueChooserAnswer(chooser.folder);
      return false;
    }
    bool operator()(const script::Click& click) const { return widgets.Click(click.control); }
    bool operator()(const script::Type& type) const {
      return widgets.Type(type.control, type.text);
    }
    bool operator()(const script::Select& select) const {
      return widgets.Select(select.control, select.rows);
    }
    bool operator()(const script::DoubleClick& click) const {
      return widgets.DoubleClick(click.control, click.row);
    }
    bool operator()(const script::Idle& idle) const {
      widgets.Idle(idle.window);
      return true;
    }
    bool operator()(const script::Close& close) const {
      widgets.RequestClose(close.window);
      return true;
    }
    bool operator()(const script::Dump&) const {
      driver.PrintState();
      return false;
    }
    bool operator()(const script::Malformed& malformed) const {
      driver.ReportMalformed(malformed.reason);
      return false;
    }
  };
  return std::visit(Visitor{*this, target_}, line);
}

void ScriptDriver::PrintState() {
  // The source is asked for a line only between passes, so every delivered event's pass is
  // complete here.
  out_ << JsonLine(DumpState(target_.Shown(), target_.PassesCompleted(), false)) << '\n'
       << std::flush;
}

void ScriptDriver::PrintFinalState(int exitCode) {
  out_ << JsonLine(DumpFinalState(target_.Shown(), target_.PassesCompleted(), exitCode)) << '\n'
       << std::flush;
}

void ScriptDriver::ReportMalformed(std::string_view reason) {
  errors_ << "script line " << lineNumber_ << " skipped: " << reason << '\n' << std::flush;
}

int RunScript(std::istream& script, std::ostream& out, std::ostream& errors,
              const std::function<int(HeadlessWidgetServices&)>& program) {
  HeadlessWidgetServices widgets;
  HeadlessScriptTarget target(widgets);
  ScriptDriver driver(target, script, out, errors);
  widgets.SetEventSource([&driver] { return driver.FillQueue(); });
  const int exitCode = program(widgets);
  driver.PrintFinalState(exitCode);
  return exitCode;
}

}  // namespace kopiensieb
