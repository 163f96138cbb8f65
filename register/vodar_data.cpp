#include "register/vodar_data.h"

#include <initializer_list>
#include <memory>

#include "dataaccess/cdsQuery.h"
#include "platform/db/fields.h"
#include "platform/os/os.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/format.h"

Tdm* dm = nullptr;

namespace {

// --- The stored form.

enum class Kind { String, Memo, Integer, Date };

struct FieldDecl {
  const char* component;
  const char* field;
  Kind kind;
  int32_t size;       // strings only
  const char* label;  // null: the field shows its name
};

struct TableDecl {
  const char* component;
  const char* table_name;
  const char* fullname;
  std::initializer_list<const char*> indexes;
  std::initializer_list<const char*> frases;
  std::initializer_list<FieldDecl> fields;
};

// The phrase list the code tables share.
const std::initializer_list<const char*> kG44Frases = {"G441=F5", "G442=F3", "G443=D1", "G444=F1",
                                                       "G445=F2", "G446=D2", "G447=D3", "G44S=F6"};

const TableDecl kVodar = {
    "vodar",
    "vodar",
    "Объекты ИС",
    {"REGNOM", "/tTRADEMARK=G31_12,DESCRIPTION;G31_12;DESCRIPTION", "G31_12L"},
    {},
    {
        {"vodarREGNOM", "REGNOM", Kind::String, 25, "Регистрационный номер ТРОИС"},
        {"vodarG31_12D", "G31_12D", Kind::Memo, 0, "Наименование ОИС или Расшифровка"},
        {"vodarG31_12", "G31_12", Kind::Memo, 0, "Наименование ОИС"},
        {"vodarG31_12L", "G31_12L", Kind::Memo, 0, "Наименование ОИС (lowercase)"},
        {"vodarDESCRIPTION", "DESCRIPTION", Kind::Memo, 0, "Описание картинки"},
        {"vodarF540IMG64", "F540IMG64", Kind::Memo, 0, "Изображение ОИС (большое)"},
        {"vodarF540IMGTYPE", "F540IMGTYPE", Kind::Memo, 0, "Формат изображения (большого)"},
        {"vodarF540IMGMINI64", "F540IMGMINI64", Kind::Memo, 0, "Изображение ОИС (маленькое)"},
        {"vodarF540IMGMINITYPE", "F540IMGMINITYPE", Kind::Memo, 0,
         "Формат изображения (маленького)"},
        {"vodarF540IMGMINIWIDTH", "F540IMGMINIWIDTH", Kind::Integer, 0,
         "Ширина маленького изображения"},
        {"vodarF540IMGMINIHEIGHT", "F540IMGMINIHEIGHT", Kind::Integer, 0,
         "Высота маленького изображения"},
        {"vodarF540IMGALT", "F540IMGALT", Kind::Memo, 0, "Альтернативное описание изображения"},
        {"vodarNOTE", "NOTE", Kind::Memo, 0, "Примечание"},
        {"vodarNPRAVO", "NPRAVO", Kind::String, 10, "Номер документа об охраноспособности ОИС"},
        {"vodarF111", "F111", Kind::String, 10, "Правильный номер из NPRAVO (без лишних символов)"},
        {"vodarF190", "F190", Kind::String, 2, "Организация зарегистрировавшая ОИС: RU/WO"},
        {"vodarDPRAVO", "DPRAVO", Kind::Date, 0, "Дата документа об охраноспособности ОИС"},
        {"vodarF151DATE", "F151DATE", Kind::Date, 0,
         "Реальная дата документа об охраноспособности"},
        {"vodarF526", "F526", Kind::Memo, 0, "Неохраняемый элемент товарного знака"},
        {"vodarF732SNA", "F732SNA", Kind::Memo, 0, "Наименование и адрес правообладателя"},
        {"vodarF740SNA", "F740SNA", Kind::Memo, 0,
         "Наименование и адрес представителя правообладателя"},
        {"vodarF591", "F591", Kind::Memo, 0, "Указание цвета или цветового сочетания"},
        {"vodarF511", "F511", Kind::Memo, 0, "Классы товаров по МКТУ"},
        {"vodarF511TEXT", "F511TEXT", Kind::Memo, 0, "Наименования товаров"},
        {"vodarG33TEXT", "G33TEXT", Kind::Memo, 0, "Коды ТНВЭД"},
        {"vodarDATEEND", "DATEEND", Kind::Date, 0, "Дата окончания действия регистрации ОИС"},
        {"vodarDATEEXCLUDE", "DATEEXCLUDE", Kind::Date, 0,
         "Дата реального окончания действия регистрации ОИС в Реестре из поля note"},
        {"vodarCOMM", "COMM", Kind::Memo, 0, "Комментарий"},
        {"vodarLETTERSTEXT", "LETTERSTEXT", Kind::Memo, 0, "Письма"},
        {"vodarTRADEMARK", "TRADEMARK", Kind::Memo, 0, "Наименование ОИС (для поиска)"},
    },
};

const TableDecl kVodarG33 = {
    "vodar_g33",
    "vodar_g33",
    "Коды ТН ВЭД,  по которым могут классифицироваться товары, обладающие признаками "
    "контрафактных",
    {"REGNOM,G33MIN", "G33MIN10"},
    kG44Frases,
    {
        {"vodar_g33REGNOM", "REGNOM", Kind::String, 25, "Регистрационный номер ТРОИС"},
        {"vodar_g33G33MIN", "G33MIN", Kind::String, 10, "Код ТНВЭД минимальный"},
        {"vodar_g33G33MAX", "G33MAX", Kind::String, 10, "Код ТНВЭД максимальный"},
        {"vodar_g33G33MIN10", "G33MIN10", Kind::String, 10, "Код ТНВЭД минимальный (10 знаков 0)"},
        {"vodar_g33G33MAX10", "G33MAX10", Kind::String, 10, "Код ТНВЭД максимальный (10 знаков 9)"},
        {"vodar_g33DATEEND", "DATEEND", Kind::Date, 0, "Дата окончания действия регистрации ОИС"},
    },
};

const TableDecl kVodarVersion = {
    "vodar_version",
    "vodar_version",
    "Версия БД",
    {"VERSION"},
    kG44Frases,
    {
        {"vodar_versionVERSION", "VERSION", Kind::String, 50, "Версия БД"},
        {"vodar_versionVERSION_TNVED", "VERSION_TNVED", Kind::String, 50, nullptr},
        {"vodar_versionVERSIONID_TNVED", "VERSIONID_TNVED", Kind::Integer, 0, nullptr},
    },
};

const TableDecl kOmit1532 = {
    "omit1532",
    "omit1532",
    "Перечень из Приказа Минпромторга N 1532 от 19.04.2022",
    {"G33", "G33MIN10"},
    kG44Frases,
    {
        {"omit1532_g33", "G33", Kind::String, 10, "Код ТНВЭД (2-10 знаков)"},
        {"omit1532_npp", "NPP", Kind::Integer, 0, nullptr},
        {"omit1532_g31_12", "G31_12", Kind::Memo, 0, "Наименование ОИС"},
        {"omit1532_note", "NOTE", Kind::Memo, 0, "Примечание"},
        {"omit1532_dateend", "DATEEND", Kind::Date, 0, "Дата окончания действия"},
        {"omit1532_g33min10", "G33MIN10", Kind::String, 10, "Код ТНВЭД минимальный (10 знаков 0)"},
        {"omit1532_g33max10", "G33MAX10", Kind::String, 10, "Код ТНВЭД максимальный (10 знаков 9)"},
    },
};

Field* MakeField(Kind kind, Component* owner) {
  switch (kind) {
    case Kind::String:
      return new StringField(owner);
    case Kind::Memo:
      return new MemoField(owner);
    case Kind::Integer:
      return new IntegerField(owner);
    case Kind::Date:
      return new DateField(owner);
  }
  return nullptr;
}

// One table of the form with its fields; the data module owns both. The connection is
// set once the form's connection exists.
TcdsTable* DeclareTable(Component* form, const TableDecl& decl) {
  auto* table = new TcdsTable(form);
  table->SetName(decl.component);
  for (const char* entry : decl.frases) table->FraseList().Add(entry);
  for (const char* entry : decl.indexes) table->Indexes().Add(entry);
  table->SetDatabasename(Tdm::kDatabaseName);
  table->SetFullname(decl.fullname);
  table->SetUpdateType(umReplace);
  table->SetTableName(decl.table_name);
  table->SetAutoCreate(true);
  table->SetFromModule(false);
  table->SetForceCheck(false);
  for (const FieldDecl& f : decl.fields) {
    Field* field = MakeField(f.kind, form);
    field->SetName(f.component);
    field->SetFieldName(f.field);
    if (f.kind == Kind::String) field->SetSize(f.size);
    if (f.label) field->SetDisplayLabel(f.label);
    field->SetDataSet(table);
  }
  return table;
}

// --- The commodity-code checks. The lines are the statements' text as the database
// manager receives them; parameters are bound once the text is complete.

constexpr char kRegisterLine1[] = "SELECT CASE WHEN EXISTS(SELECT 1 FROM vodar_g33 WHERE ";
constexpr char kRegisterPrefix[] =
    "((substr(:G33, 1, min(length(g33min), :G33LEN)) >= substr(g33min, 1, min(length(g33min), "
    ":G33LEN))) and (substr(:G33, 1, min(length(coalesce(g33max, g33min)), :G33LEN)) <= "
    "substr(coalesce(g33max, g33min), 1, min(length(coalesce(g33max, g33min)), :G33LEN))))";
constexpr char kRegisterLine3[] = " AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex";

constexpr char kOmitLine1[] = "SELECT CASE WHEN EXISTS(SELECT 1 FROM omit1532 WHERE ";
constexpr char kOmitPrefix[] =
    "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), :G33LEN)))";
constexpr char kOmitLine3[] = ") THEN 1 ELSE 0 END AS ex";

constexpr char kRangeLine[] = "(:G33 BETWEEN G33MIN10 AND G33MAX10)";

// Gives every entry of `name` the value (a name that occurs several times in a statement
// has several entries, and each occurrence takes the same value).
template <class Set>
void BindAll(Params& params, std::string_view name, Set set) {
  for (int i = 0; i < params.Count(); ++i)
    if (SameFieldName(params[i].Name(), name)) set(params[i]);
}

// Runs one check made from `source`: the three lines, the code (and in the prefix form its
// length), then `bind_more`; answers whether "ex" of the first row is 1. The query is freed
// on every path.
template <class BindMore>
bool RunCheck(TcdsTable& source, const char* line1, const char* prefix_line, const char* line3,
              const WideString& code, BindMore bind_more) {
  const bool prefix = code.length() < Tdm::kFullCodeLength;
  std::unique_ptr<TcdsQuery> query = TcdsQuery::Create(source);
  query->SQL().Add(line1);
  query->SQL().Add(prefix ? prefix_line : kRangeLine);
  query->SQL().Add(line3);
  // Single-byte text of code page 1251, as the register stores its codes.
  const std::string text = code.ToUtf8();
  BindAll(query->Params(), "G33", [&](Param& p) { p.SetAsString(text); });
  if (prefix) {
    const auto length = static_cast<int32_t>(code.length());
    BindAll(query->Params(), "G33LEN", [&](Param& p) { p.SetAsInteger(length); });
  }
  bind_more(*query);
  query->Open();
  // The statement always yields one row; an answer without it is a failure of the
  // database, not a "no" (which would pass a code the register holds as clear).
  if (query->IsEmpty())
    throw EDatabaseError(Format("The register check on %s answered no row", {source.Name()}));
  query->First();
  return query->FieldByName("ex").AsInteger() == 1;
}

}  // namespace

Tdm::Tdm(Component* owner) : DataModule(owner), alive_(std::make_shared<Tdm*>(this)) {
  SetName("dm");
  FormLoading form;
  vodar = DeclareTable(this, kVodar);
  vodar_conn = new TKVTAlias(this);
  vodar_conn->SetName("vodar_conn");
  vodar_conn->SetDatabasename(kDatabaseName);
  vodar_conn->SetLoadFromFile(true);
  vodar_g33 = DeclareTable(this, kVodarG33);
  vodar_version = DeclareTable(this, kVodarVersion);
  omit1532 = DeclareTable(this, kOmit1532);
  for (TcdsTable* table : {vodar, vodar_g33, vodar_version, omit1532})
    table->SetRemoteServer(vodar_conn);
  form.Finish();
}

Tdm::~Tdm() = default;

void Tdm::OnCreate() {
  DataModuleCreate();
}

void Tdm::DataModuleCreate() {
  ComPtr<IKVTServer> host = HostServer;
  if (!host) return;

  SubscribeEvent("STOPSERVER", [alive = std::weak_ptr<Tdm*>(alive_)](TKVTEvent* sender) {
    if (auto self = alive.lock()) (*self)->ServerStopped(sender);
  });

  ConfigureStorage(host.Get());

  if (auto registry = host.TryAs<IKVTConnectionRegistry>()) {
    registry->AddConnection(vodar_conn);
    vodar_conn->SetHostServer(host.TryAs<IKVTServer2>().Get());
  }

  if (auto registry = host.TryAs<IKVTTableRegistry>()) {
    const WideString database = WideString::FromUtf8(vodar_conn->Databasename());
    for (TcdsTable* table : {vodar, vodar_g33, vodar_version, omit1532})
      registry->AddTable(database, table->TableDef());
  }
}

void Tdm::ConfigureStorage(IKVTServer* server) {
  ComPtr<IKVTServer> host(server);
  if (!host || !host.TryAs<IKVTConfig>()) return;
  auto config = host.TryAs<IKVTDatabaseConfig>();
  if (!config) return;
  const std::string folder = GetDbPath(true);
  const WideString database = WideString::FromUtf8(kDatabaseName);
  config->SetDriver(database, u"SQLITE");
  config->SetParam(database, u"sqlite.file", WideString::FromUtf8(folder + kDatabaseFile));
  config->SetParam(database, u"readonly", u"Да");
}

void Tdm::ServerStopped(TKVTEvent*) {
  vodar_conn->Close();
  vodar_conn->SetHostServer(nullptr);
  HostServer = nullptr;
}

std::string Tdm::GetDbPath(bool create) {
  std::string folder = Format("%s%s/", {ExecutableFolder(), "db3"});
  if (create && !DirectoryExists(folder)) ForceDirectories(folder);  // a failure is ignored
  return folder;
}

bool Tdm::CheckCode(const WideString& code) {
  const bool registered = RunCheck(
      *vodar_g33, kRegisterLine1, kRegisterPrefix, kRegisterLine3, code, [](TcdsQuery& query) {
        const TDateTime now = Now();
        BindAll(query.Params(), "TODAY", [&](Param& p) { p.SetAsDateTime(now); });
      });
  const bool omitted = CheckOmit(code);  // every time, also for a code already found
  return registered || omitted;
}

bool Tdm::CheckOmit(const WideString& code) {
  return RunCheck(*omit1532, kOmitLine1, kOmitPrefix, kOmitLine3, code, [](TcdsQuery&) {});
}
