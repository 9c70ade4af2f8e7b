// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The command table against what is written from it by hand: each row's
// synopsis names exactly its options, and the man page, the bash completion
// and the command-line reference (docs/cli.md) say what the rows say.
#include <cstdlib>
#include <regex>
#include <set>

#include "child_process.h"
#include "cli/command_table.h"
#include "cli_run.h"

using zk7cli::Commands;

namespace {

// A file of the source tree: below ZK7_TEST_DATA's parent when it names a
// tests folder, else below the tree the build was configured from.
std::string SourceFile(const std::string& path) {
  const char* tests = std::getenv("ZK7_TEST_DATA");
  const std::string text =
      ReadText((tests ? std::string(tests) + "/.." : std::string(ZK7_SOURCE_DIR)) + "/" + path);
  EXPECT_FALSE(text.empty()) << path;
  return text;
}

std::set<std::string> Words(const std::string& text) {
  std::set<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.insert(w);
  return words;
}

// What the command line shows of an option: -o is also --output.
std::set<std::string> OptionWords(const zk7cli::Command& c, bool withValue, bool withFlags) {
  std::set<std::string> words;
  for (const auto& o : c.options)
    if (o.value ? withValue : withFlags) {
      words.insert(o.name);
      if (std::string(o.name) == "-o") words.insert("--output");
    }
  return words;
}

// A man page line as text: the macro's arguments (quoted or not) joined as
// the macro joins them, font escapes dropped.
std::string ManText(const std::string& line) {
  std::string macro = line.substr(0, line.find(' ')), rest = line.substr(macro.size());
  std::vector<std::string> args;
  for (std::size_t i = 0; i < rest.size();) {
    if (rest[i] == ' ') {
      ++i;
    } else if (rest[i] == '"') {
      const auto end = rest.find('"', i + 1);
      args.push_back(rest.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      const auto end = std::min(rest.find(' ', i), rest.size());
      args.push_back(rest.substr(i, end - i));
      i = end;
    }
  }
  std::string text;
  for (const auto& a : args) text += (text.empty() || macro.size() > 2 ? "" : " ") + a;
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

TEST(CommandTable, EachSynopsisNamesExactlyItsOptionsWithTheirValues) {
  const std::regex option(R"((^|[ \[|])(--?[a-z][a-z-]*))");
  for (const auto* c : Commands()) {
    std::set<std::string> named;
    for (const std::string form : c->forms) {
      for (std::sregex_iterator m(form.begin(), form.end(), option), end; m != end; ++m)
        named.insert((*m)[2]);
      for (const auto& o : c->options) {
        if (o.value && form.find(o.name) != std::string::npos) {
          EXPECT_NE(form.find(std::string(o.name) + ' ' + o.value), std::string::npos)
              << c->name << ": " << o.name;
        }
      }
    }
    auto options = OptionWords(*c, true, true);
    options.erase("--output");
    EXPECT_EQ(named, options) << c->name;
    // Both help texts list every option; a synopsis line fits 80 columns.
    const std::string help = RunCli({c->name, "--help"}).out, top = RunCli({"--help"}).out;
    for (const auto& o : options) {
      EXPECT_NE(help.find(o), std::string::npos) << c->name << " --help: " << o;
      const auto at = top.find("\n  " + std::string(c->name) + ' ');
      std::smatch next;
      std::regex_search(top.cbegin() + static_cast<long>(at) + 1, top.cend(), next,
                        std::regex("\n  [a-z]|\n\n"));
      EXPECT_NE(top.substr(at, static_cast<std::size_t>(next.position()) + 1).find(o),
                std::string::npos)
          << "zk7prog --help, " << c->name << ": " << o;
    }
    std::istringstream usage(zk7cli::UsageLines(*c));
    for (std::string line; std::getline(usage, line);) EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST(CommandTable, RequiredOptionsAndWordCountsAreUsageErrors) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"export-hex"}, "zk7prog export-hex: -o OUT.hex is required\n"},
      {{"bittiming", "--fosc-khz", "4000"},
       "zk7prog bittiming: --fosc-khz and --bitrate are required\n"},
      {{"verify", "missing.dvs"}, "zk7prog verify: --port PORT is required\n"},
      {{"verify", "--port", "emulator"}, "zk7prog verify: missing argument\n"},
      {{"show", "a", "b"}, "zk7prog show: unexpected argument 'b'\n"},
      {{"ports", "--json", "--json"}, "zk7prog ports: option --json given twice\n"},
      {{"diff", "a", "b", "--port", "emulator"}, "zk7prog diff: unexpected argument 'b'\n"},
  };
  for (const auto& [args, said] : cases) {
    const auto r = RunCli(args);
    EXPECT_EQ(r.code, 2) << said;
    EXPECT_EQ(r.err, said + "Try 'zk7prog " + args[0] + " --help'.\n");
  }
}

// The command-line reference shows each command's usage lines as a code block.
TEST(CommandTable, TheReferenceShowsEveryUsage) {
  const std::string page = SourceFile("docs/cli.md");
  for (const auto* c : Commands())
    EXPECT_NE(page.find("\n" + zk7cli::UsageLines(*c, "    ") + "\n"), std::string::npos)
        << "docs/cli.md lacks\n"
        << zk7cli::UsageLines(*c, "    ");
}

// The tags of the man page's COMMANDS section are the table's forms, in its order.
TEST(CommandTable, TheManPageShowsEveryForm) {
  const std::string page = SourceFile("data/zk7prog.1");
  const auto from = page.find(".SH COMMANDS\n"), to = page.find("\n.SH ", from + 1);
  std::istringstream section(page.substr(from, to - from));
  std::vector<std::string> tags, forms;
  bool tag = false;
  for (std::string line; std::getline(section, line);) {
    if (tag && line.rfind(".BR help ", 0) != 0) tags.push_back(ManText(line));
    tag = line == ".TP" || line == ".TQ";
  }
  for (const auto* c : Commands())
    for (const char* form : c->forms) forms.push_back(std::string(c->name) + ' ' + form);
  EXPECT_EQ(tags, forms);
}

// The completion offers every command and, after each, exactly its options; the
// word after an option with a value is never completed as an option or a file.
TEST(CommandTable, TheBashCompletionOffersEveryCommandAndOption) {
  std::string script = SourceFile("data/zk7prog.bash-completion");
  script = std::regex_replace(script, std::regex("\\\\\n"), " ");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(script, m, std::regex("local commands=\"([^\"]*)\"")));
  std::set<std::string> commands{"help"};
  for (const auto* c : Commands()) commands.insert(c->name);
  EXPECT_EQ(Words(m[1]), commands);

  std::map<std::string, std::set<std::string>> offered;
  const std::regex arm(R"re(\n *([a-z| -]+)\) options="([^"]*)" ;;)re");
  for (std::sregex_iterator a(script.begin(), script.end(), arm), end; a != end; ++a)
    for (const auto& name : Words(std::regex_replace((*a)[1].str(), std::regex("\\|"), " ")))
      offered[name] = Words((*a)[2]);
  std::set<std::string> valued, answered;
  for (const auto* c : Commands()) {
    EXPECT_EQ(offered[c->name], OptionWords(*c, true, true)) << c->name;
    for (const auto& o : OptionWords(*c, true, false)) valued.insert(o);
  }
  const auto from = script.find("case $prev in"), to = script.find("esac", from);
  const std::string prev = script.substr(from, to - from);
  const std::regex prevArm(R"(\n *(-[^)]*)\))");
  for (std::sregex_iterator a(prev.begin(), prev.end(), prevArm), end; a != end; ++a)
    for (const auto& name : Words(std::regex_replace((*a)[1].str(), std::regex("\\|"), " ")))
      answered.insert(name);
  EXPECT_EQ(answered, valued);
}

}  // namespace
