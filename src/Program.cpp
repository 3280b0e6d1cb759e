#include "Program.h"

#include "ProgramResources.h"
#include "TApplication.h"
#include "UAboutBox.h"
#include "UMain.h"

#include <filesystem>
#include <ostream>

namespace {

constexpr const char* Usage =
    "用法：pagorin [文件]\n"
    "Pagorin高速文本文件浏览器：一页一页地阅读超大文本文件。给出文件时打开它，显示第一页。\n"
    "\n"
    "  -h, --help     显示本帮助后退出\n"
    "  -v, --version  显示版本号后退出\n"
    "  --             其后是文件名，也可以以“-”开头\n";

TCommandLine Mistake(std::ostream& Err, const std::string& What) {
  Err << "pagorin：" << What << "\n请用“pagorin --help”查看用法。\n";
  return TCommandLine{"", true, 2};
}

}  // namespace

TCommandLine ReadCommandLine(const std::vector<std::string>& Arguments, std::ostream& Out, std::ostream& Err) {
  std::vector<std::string> Files;
  bool Options = true;
  for (const std::string& Argument : Arguments) {
    if (Options && Argument == "--") {
      Options = false;
    } else if (Options && (Argument == "-h" || Argument == "--help")) {
      Out << Usage;
      return TCommandLine{"", true, 0};
    } else if (Options && (Argument == "-v" || Argument == "--version")) {
      Out << "Pagorin高速文本文件浏览器 " PAGORIN_VERSION "\n";
      return TCommandLine{"", true, 0};
    } else if (Options && Argument.size() > 1 && Argument[0] == '-') {
      return Mistake(Err, "无法识别的选项“" + Argument + "”");
    } else if (Argument.empty()) {
      // No path names no file, and no full path can be made of it.
      return Mistake(Err, "文件名不能为空");
    } else {
      Files.push_back(Argument);
    }
  }
  if (Files.size() > 1) return Mistake(Err, "只能打开一个文件，多出了“" + Files[1] + "”");
  if (Files.empty()) return {};
  // A full path, as the open dialog gives one: the caption shows it, and it names the file wherever
  // the program's working folder is.
  std::error_code Failed;
  const std::filesystem::path Full = std::filesystem::absolute(Files.front(), Failed);
  if (Failed) return Mistake(Err, "无法确定“" + Files.front() + "”的完整路径");
  return TCommandLine{Full.lexically_normal().string(), false, 0};
}

int RunProgram(TApplication& App, const std::string& File) {
  try {
    App.SetTitle("Pagorin高速文本文件浏览器");
    SetProgramIcon();
    App.CreateForm(FrmMain);
    App.CreateForm(AboutBox);
    if (!File.empty()) FrmMain->WhenShown([File] { FrmMain->OpenFile(File); });
    App.Run();
  } catch (...) {
    App.HandleException(std::current_exception());
  }
  App.DestroyForms();
  return 0;
}
