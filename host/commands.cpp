#include "host/commands.h"

#include <exception>
#include <string>

#include "host/server.h"
#include "platform/rtl/exceptions.h"

namespace {

// What a call into a module answers, or its error in brackets.
template <class F>
std::string Ask(F call) {
  try {
    return call();
  } catch (...) {
    return "(error: " + ExceptionMessage(std::current_exception()) + ")";
  }
}

std::string Quoted(const WideString& text) {
  return "\"" + text.ToUtf8() + "\"";
}

// A block of lines, or the error that stopped it as one line of its own.
void PutLines(const std::string& block, std::FILE* out) {
  if (!block.empty() && block.back() != '\n')
    std::fprintf(out, "    %s\n", block.c_str());
  else
    std::fputs(block.c_str(), out);
}

}  // namespace

int RunInfo(THostServer& server, std::FILE* out) {
  std::vector<ComPtr<IModuleInfo>> modules = server.Modules().Entries();
  if (modules.empty()) {
    std::fprintf(stderr, "kvthost: info: no module has registered with the host\n");
    return 1;
  }
  for (const ComPtr<IModuleInfo>& info : modules) {
    WideString name;
    std::string name_text = Ask([&] {
      name = info->GetName();
      return name.ToUtf8();
    });
    std::fprintf(out, "%s\n", name_text.c_str());
    std::fprintf(out, "  caption: %s\n", Ask([&] { return info->GetCaption().ToUtf8(); }).c_str());
    std::fprintf(out, "  version: %s\n", Ask([&] { return info->GetVersion().ToUtf8(); }).c_str());
    std::string update = Ask([&]() -> std::string {
      auto setting = info.TryAs<IModuleUpdateSetting>();
      if (!setting) return "(not offered)";
      return setting->GetUpdate() ? "yes" : "no";
    });
    std::fprintf(out, "  update: %s\n", update.c_str());
    std::string status = Ask([&]() -> std::string {
      HRESULT hr = info->PublishVersionStatus(0);
      ComPtr<TVersionStatusItem> item = server.VersionStatus().Item(name);
      if (item && item->HasText()) return item->Text().ToUtf8();
      if (FAILED(hr)) return "(not published: " + SysErrorMessage(hr) + ")";
      return "(none published)";
    });
    std::fprintf(out, "  status: %s\n", status.c_str());
  }
  return 0;
}

int RunTables(THostServer& server, std::FILE* out) {
  std::vector<TTableRegistry::Entry> tables = server.Tables().Tables();
  if (tables.empty()) {
    std::fprintf(out, "no tables registered\n");
    return 0;
  }
  bool first = true;
  for (const TTableRegistry::Entry& entry : tables) {
    IKVTTableDef* t = entry.table;
    if (!first) std::fputc('\n', out);
    first = false;
    std::fprintf(out, "%s\n", Ask([&] { return t->GetFullname().ToUtf8(); }).c_str());
    std::fprintf(out, "  database: %s\n", entry.database.ToUtf8().c_str());
    std::fprintf(out, "  table: %s\n", Ask([&] { return t->GetTableName().ToUtf8(); }).c_str());
    std::fprintf(out, "  provider: %s\n",
                 Ask([&] { return t->GetProviderName().ToUtf8(); }).c_str());
    std::fprintf(out, "  fields:\n");
    std::string fields = Ask([&] {
      std::string text;
      for (int32_t i = 0, n = t->GetFieldCount(); i < n; ++i) {
        ComPtr<IKVTFieldInfo> f = t->GetField(i);
        text += "    " + f->GetFieldName().ToUtf8() + "  type " + std::to_string(f->GetDataType()) +
                "  size " + std::to_string(f->GetSize()) + "  label " +
                Quoted(f->GetDisplayLabel()) + "\n";
      }
      return text;
    });
    PutLines(fields, out);
    std::fprintf(out, "  indexes:\n");
    std::string indexes = Ask([&] {
      std::string text;
      for (int32_t i = 0, n = t->GetIndexCount(); i < n; ++i) {
        ComPtr<IKVTIndexInfo> x = t->GetIndex(i);
        text += "    " + x->GetName().ToUtf8() + "  fields " + Quoted(x->GetFields()) +
                "  options " + std::to_string(x->GetOptions()) + "\n";
      }
      return text;
    });
    PutLines(indexes, out);
  }
  return 0;
}
