#include "sample_content.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <vector>

#include "sample_util.h"

namespace {

// --- Goods groups and the tariff ------------------------------------------------------

// A goods group that trademarks are registered for: its classes of goods, what the classes
// cover, words that are not protected in such marks, and the tariff chapters its goods fall
// into (zero-terminated).
struct GoodsGroup {
  const char* classes;
  const char* goods;
  const char* generic_words[3];
  int chapters[6];
  int weight;
};

const GoodsGroup kGroups[] = {
    {"25", "25 — одежда, обувь, головные уборы", {"SPORT", "WEAR", "JEANS"}, {61, 62, 64, 65}, 16},
    {"03",
     "03 — косметические средства, парфюмерия, средства для ухода за волосами, зубные пасты",
     {"COSMETICS", "PARFUM", "BEAUTY"},
     {33, 34},
     11},
    {"09",
     "09 — аппаратура для записи, передачи и воспроизведения звука и изображений, компьютеры, "
     "телефоны, аккумуляторы",
     {"DIGITAL", "AUDIO", "SMART"},
     {85, 84, 90},
     12},
    {"28",
     "28 — игры, игрушки, спортивные товары, ёлочные украшения",
     {"TOYS", "KIDS", "PLAY"},
     {95},
     7},
    {"14",
     "14 — часы и хронометрические приборы, ювелирные изделия",
     {"WATCH", "SWISS", "GOLD"},
     {91, 71},
     6},
    {"12",
     "12 — транспортные средства, запасные части и принадлежности к ним; 17 — шины",
     {"AUTO", "MOTORS", "PARTS"},
     {87, 40, 84, 85},
     7},
    {"32, 33",
     "32 — пиво, безалкогольные напитки, минеральные воды; 33 — алкогольные напитки",
     {"DRINKS", "WATER", "BEER"},
     {22},
     6},
    {"05",
     "05 — фармацевтические препараты, биологически активные добавки к пище",
     {"PHARMA", "MED", "VITA"},
     {30, 21},
     5},
    {"34",
     "34 — табак, курительные принадлежности, спички",
     {"TOBACCO", "SMOKE", "CLASSIC"},
     {24, 96},
     3},
    {"29, 30",
     "29 — мясо, молочные продукты; 30 — кондитерские изделия, чай, кофе",
     {"FOOD", "CHOCO", "TEA"},
     {4, 18, 19, 21, 9},
     7},
    {"18",
     "18 — сумки, кошельки, чемоданы, зонты, изделия из кожи",
     {"LEATHER", "BAGS", "TRAVEL"},
     {42, 66},
     6},
    {"07, 08",
     "07 — машины и станки, электроинструменты; 08 — ручные инструменты",
     {"TOOLS", "POWER", "PRO"},
     {84, 82, 85},
     5},
    {"16",
     "16 — бумага, канцелярские товары, печатная продукция",
     {"OFFICE", "PAPER", "PRINT"},
     {48, 49, 96},
     3},
    {"11",
     "11 — осветительные и нагревательные приборы, санитарно-техническое оборудование",
     {"LIGHT", "HOME", "THERM"},
     {94, 84, 85, 69},
     4},
    {"21",
     "21 — посуда, кухонные принадлежности",
     {"KITCHEN", "HOME", "CHEF"},
     {73, 69, 70, 39, 76},
     3},
};

// Number of headings per chapter of the nomenclature, 01 to 97 (chapter 77 is reserved).
const int kHeadings[98] = {0,  6,  10, 9,  10, 11, 4,  14, 14, 10, 8,  9,  14, 2,  4,  22, 5,
                           4,  6,  5,  9,  6,  9,  9,  4,  30, 21, 16, 53, 42, 6,  5,  15, 7,
                           7,  7,  6,  7,  27, 26, 17, 15, 6,  4,  21, 4,  2,  7,  23, 11, 7,
                           13, 12, 11, 8,  16, 9,  5,  11, 11, 6,  17, 17, 10, 6,  7,  3,  4,
                           15, 14, 20, 18, 29, 26, 19, 8,  16, 0,  6,  7,  7,  13, 15, 11, 87,
                           49, 9,  16, 7,  8,  33, 14, 9,  7,  6,  8,  20, 6};

// Two digits each: the subheading after a heading (six digits), then the two further
// subdivisions (eight and ten digits).
const char* const kSub6[] = {"10", "11", "12", "13", "19", "20", "21", "22", "29", "30", "31",
                             "32", "39", "40", "41", "49", "50", "60", "70", "80", "90", "99"};
const char* const kSub8[] = {"00", "10", "20", "30", "80", "90", "91", "98"};
const char* const kSub10[] = {"00", "10", "20", "30", "50", "80", "90", "91", "99"};

std::string TwoDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

// Tariff chapters with weights: every chapter a little, the goods groups' chapters more.
class ChapterTable {
 public:
  ChapterTable() {
    for (int c = 1; c <= 97; ++c) weights_[c] = kHeadings[c] > 0 ? 1 : 0;
    for (const GoodsGroup& g : kGroups)
      for (int i = 0; i < 6 && g.chapters[i] != 0; ++i)
        weights_[g.chapters[i]] += g.weight * (i == 0 ? 4 : 2);
    for (int c = 1; c <= 97; ++c) total_ += weights_[c];
  }

  int Draw(SampleRng& rng) const {
    int r = static_cast<int>(rng.Below(static_cast<uint32_t>(total_)));
    for (int c = 1; c <= 97; ++c) {
      if (r < weights_[c]) return c;
      r -= weights_[c];
    }
    return 85;
  }

 private:
  int weights_[98] = {};
  int total_ = 0;
};

struct CodeSpan {
  std::string min;
  OptText max;
};

// A code range inside a chapter, of the shapes the register uses: a whole chapter, a run of
// headings, one heading, subheadings of six, eight or ten digits, alone or as a run.
CodeSpan DrawSpan(SampleRng& rng, int chapter) {
  const std::string ch = TwoDigits(chapter);
  const int kind = static_cast<int>(rng.Below(100));
  if (kind < 3) return {ch, std::nullopt};
  const int headings = kHeadings[chapter];
  const int h = rng.Between(1, headings);
  const std::string head = ch + TwoDigits(h);
  if (kind < 16) {
    if (h == headings) return {head, std::nullopt};
    return {head, ch + TwoDigits(rng.Between(h + 1, std::min(headings, h + 8)))};
  }
  if (kind < 42) return {head, std::nullopt};

  const int n6 = static_cast<int>(std::size(kSub6));
  const int s = rng.Between(0, n6 - 1);
  const std::string sub = head + kSub6[s];
  if (kind < 56) {
    if (s == n6 - 1) return {sub, std::nullopt};
    return {sub, head + kSub6[rng.Between(s + 1, std::min(n6 - 1, s + 5))]};
  }
  if (kind < 68) return {sub, std::nullopt};

  const int n8 = static_cast<int>(std::size(kSub8));
  const int e = rng.Between(0, n8 - 2);
  const std::string sub8 = sub + kSub8[e];
  if (kind < 74) return {sub8, sub + kSub8[rng.Between(e + 1, n8 - 1)]};
  if (kind < 78) return {sub8, std::nullopt};

  const int n10 = static_cast<int>(std::size(kSub10));
  const int t = rng.Between(0, n10 - 2);
  const std::string sub10 = sub8 + kSub10[t];
  if (kind < 90) return {sub10, std::nullopt};
  return {sub10, sub8 + kSub10[rng.Between(t + 1, n10 - 1)]};
}

// --- Names ------------------------------------------------------------------------------

const char* const kLatinSyllables[] = {
    "ar",  "bel", "cor",  "da",  "el",  "fen", "gra", "ix",  "ka",  "lo",  "mar", "nex",
    "or",  "pra", "quin", "ro",  "sol", "ta",  "ul",  "ver", "xa",  "zen", "vi",  "tro",
    "lux", "no",  "va",   "ber", "ton", "mi",  "sa",  "len", "dor", "rin", "ka",  "fi",
    "al",  "to",  "ne",   "ri",  "cas", "pel", "mon", "tis", "eva", "os",  "ly",  "te"};
const char* const kLatinSuffixes[] = {"PRO",  "SPORT", "HOME",  "KIDS", "TECH", "LINE",
                                      "CLUB", "MAX",   "STYLE", "LAB",  "ONE",  "PLUS"};
const char* const kEnglishAdjectives[] = {"Blue",   "Golden", "Silver", "Red",   "Green",
                                          "Royal",  "Urban",  "Wild",   "Smart", "Happy",
                                          "Bright", "Black",  "North",  "Grand", "Little"};
const char* const kEnglishNouns[] = {"Fox",  "River",  "Line",   "Wave",   "Bear",  "Star",
                                     "Peak", "Garden", "Harbor", "Stone",  "Crown", "Field",
                                     "Bird", "Forest", "Ocean",  "Bridge", "Lion",  "Spark"};
const char* const kCyrillicSyllables[] = {"ве", "ло", "ра", "ми", "та", "ни", "ко", "за",
                                          "ру", "са", "ле", "на", "ви", "да", "бо", "гу",
                                          "ла", "мо", "се", "ти", "ва", "до", "ки", "по"};
const char* const kCyrillicEndings[] = {"ка", "ия", "он", "ис", "ар", "ель", "ея", "ан"};

struct RussianNoun {
  const char* word;
  bool feminine;
};
const RussianNoun kRussianNouns[] = {
    {"колос", false}, {"звезда", true}, {"берег", false}, {"роща", true},     {"сад", false},
    {"поляна", true}, {"ветер", false}, {"река", true},   {"дом", false},     {"мельница", true},
    {"край", false},  {"долина", true}, {"терем", false}, {"пристань", true}, {"луг", false},
    {"гавань", true}, {"ёжик", false},  {"ладья", true},  {"бор", false},     {"заря", true}};
// Masculine and feminine forms.
const char* const kRussianAdjectives[][2] = {
    {"Золотой", "Золотая"}, {"Северный", "Северная"}, {"Тёплый", "Тёплая"},
    {"Весёлый", "Весёлая"}, {"Зелёный", "Зелёная"},   {"Русский", "Русская"},
    {"Добрый", "Добрая"},   {"Вольный", "Вольная"},   {"Серебряный", "Серебряная"},
    {"Ясный", "Ясная"},     {"Тихий", "Тихая"},       {"Дальний", "Дальняя"}};

std::string LatinWord(SampleRng& rng, int syllables) {
  std::string w;
  for (int i = 0; i < syllables; ++i) w += rng.Pick(kLatinSyllables);
  return w;
}

std::string CyrillicWord(SampleRng& rng) {
  std::string w;
  const int n = rng.Between(1, 2);
  for (int i = 0; i < n; ++i) w += rng.Pick(kCyrillicSyllables);
  return w + rng.Pick(kCyrillicEndings);
}

// A trademark name and whether it is written in Cyrillic.
struct BrandName {
  std::string text;
  bool cyrillic;
};

BrandName DrawBrandName(SampleRng& rng) {
  const int kind = static_cast<int>(rng.Below(100));
  if (kind < 45) {
    std::string w = LatinWord(rng, rng.Between(2, 3));
    return {rng.Percent(55) ? Utf8Upper(w) : Utf8Capitalize(w), false};
  }
  // One draw per statement: the order in which operands are evaluated is not fixed, and the
  // same seed must give the same names with any compiler.
  if (kind < 60) {
    std::string adjective = rng.Pick(kEnglishAdjectives);
    return {adjective + " " + rng.Pick(kEnglishNouns), false};
  }
  if (kind < 70) {
    std::string word = Utf8Upper(LatinWord(rng, 2));
    return {word + " " + rng.Pick(kLatinSuffixes), false};
  }
  if (kind < 85) {
    const RussianNoun& n = rng.Pick(kRussianNouns);
    return {std::string(rng.Pick(kRussianAdjectives)[n.feminine ? 1 : 0]) + " " + n.word, true};
  }
  std::string w = CyrillicWord(rng);
  return {rng.Percent(40) ? Utf8Upper(w) : Utf8Capitalize(w), true};
}

// --- Holders and representatives ---------------------------------------------------------

const char* const kRussianCities[] = {
    "г. Москва", "г. Санкт-Петербург", "г. Екатеринбург",   "г. Новосибирск", "г. Казань",
    "г. Самара", "г. Нижний Новгород", "г. Ростов-на-Дону", "г. Краснодар",   "г. Калининград",
    "г. Тула",   "г. Иваново"};
const char* const kRussianStreets[] = {"ул. Садовая",    "ул. Заводская",    "ул. Мира",
                                       "ул. Лесная",     "ул. Промышленная", "ул. Центральная",
                                       "пр-т Победы",    "ул. Новая",        "Ленинградское ш.",
                                       "ул. Строителей", "наб. Речная",      "пер. Торговый"};
const char* const kRussianForms[] = {"ООО", "ООО", "ООО", "АО", "ПАО", "ЗАО"};

struct Country {
  const char* code;
  const char* name;
  const char* forms[3];
  const char* streets[3];
  const char* cities[3];
  bool number_first;
};

const Country kCountries[] = {
    {"DE",
     "Германия",
     {"GmbH", "AG", "GmbH & Co. KG"},
     {"Hauptstraße", "Industriestraße", "Am Hafen"},
     {"80331 München", "20095 Hamburg", "70173 Stuttgart"},
     false},
    {"US",
     "США",
     {"Inc.", "LLC", "Corporation"},
     {"Market Street", "Commerce Drive", "Lake Avenue"},
     {"Portland, Oregon 97204", "Columbus, Ohio 43215", "Austin, Texas 78701"},
     true},
    {"IT",
     "Италия",
     {"S.p.A.", "S.r.l.", "S.p.A."},
     {"Via Roma", "Via Garibaldi", "Corso Venezia"},
     {"20121 Milano", "50123 Firenze", "10121 Torino"},
     false},
    {"FR",
     "Франция",
     {"S.A.", "S.A.S.", "SARL"},
     {"rue de la Paix", "avenue Victor Hugo", "boulevard Haussmann"},
     {"75002 Paris", "69002 Lyon", "13001 Marseille"},
     true},
    {"JP",
     "Япония",
     {"Co., Ltd.", "Corporation", "K.K."},
     {"Shibaura", "Nishi-Shinjuku", "Umeda"},
     {"Minato-ku, Tokyo 108-0023", "Shinjuku-ku, Tokyo 160-0023", "Kita-ku, Osaka 530-0001"},
     true},
    {"CN",
     "Китай",
     {"Co., Ltd.", "Group Co., Ltd.", "Trading Co., Ltd."},
     {"Huaxia Road", "Zhongshan Road", "Binhai Avenue"},
     {"Shanghai 200120", "Shenzhen, Guangdong 518000", "Ningbo, Zhejiang 315000"},
     true},
    {"KR",
     "Республика Корея",
     {"Co., Ltd.", "Corporation", "Co., Ltd."},
     {"Teheran-ro", "Sejong-daero", "Gwanggyo-ro"},
     {"Gangnam-gu, Seoul 06133", "Jung-gu, Seoul 04524", "Suwon-si, Gyeonggi-do 16229"},
     true},
    {"CH",
     "Швейцария",
     {"AG", "SA", "Sàrl"},
     {"Bahnhofstrasse", "Rue du Rhône", "Seestrasse"},
     {"8001 Zürich", "1204 Genève", "2502 Biel/Bienne"},
     false},
    {"GB",
     "Великобритания",
     {"Limited", "PLC", "Ltd."},
     {"High Street", "King's Road", "Station Road"},
     {"London EC1A 1BB", "Manchester M1 1AE", "Leeds LS1 4DY"},
     true},
    {"TR",
     "Турция",
     {"A.Ş.", "Ltd. Şti.", "A.Ş."},
     {"Atatürk Cad. No:", "Cumhuriyet Cad. No:", "İnönü Cad. No:"},
     {"34394 İstanbul", "35210 İzmir", "06420 Ankara"},
     false},
};

const char* const kForeignWords[] = {
    "",         "",       "",        " International", " Industries",
    " Trading", " Group", " Brands", " Holding",       " Europe"};

struct Holder {
  std::string name;     // the holder alone
  std::string address;  // name, address and country, as the register writes it
  bool foreign;
};

std::string RussianAddress(SampleRng& rng) {
  std::string a = std::to_string(rng.Between(101000, 692999));
  a += std::string(", ") + rng.Pick(kRussianCities);
  a += std::string(", ") + rng.Pick(kRussianStreets);
  a += ", д. " + std::to_string(rng.Between(1, 120));
  if (rng.Percent(35)) a += ", стр. " + std::to_string(rng.Between(1, 9));
  if (rng.Percent(30)) a += ", офис " + std::to_string(rng.Between(1, 450));
  return a;
}

Holder DrawHolder(SampleRng& rng) {
  if (rng.Percent(45)) {
    std::string company = rng.Percent(60) ? Utf8Capitalize(CyrillicWord(rng))
                                          : Utf8Capitalize(LatinWord(rng, rng.Between(2, 3)));
    if (rng.Percent(20)) company = "Торговый дом «" + company + "»";
    std::string name = std::string(rng.Pick(kRussianForms)) + " «" + company + "»";
    return {name, name + ", " + RussianAddress(rng) + " (RU)", false};
  }
  const Country& c = rng.Pick(kCountries);
  std::string name = Utf8Capitalize(LatinWord(rng, rng.Between(2, 3)));
  name += rng.Pick(kForeignWords);
  name += std::string(" ") + c.forms[rng.Below(3)];
  const std::string number = std::to_string(rng.Between(1, 250));
  const std::string street = c.streets[rng.Below(3)];
  std::string address = c.number_first ? number + " " + street : street + " " + number;
  address += std::string(", ") + c.cities[rng.Below(3)] + ", " + c.name;
  return {name, name + ", " + address + " (" + c.code + ")", true};
}

std::string DrawRepresentative(SampleRng& rng) {
  static const char* const kForms[] = {"ООО «Патентное бюро «%s»»", "ООО «Юридическая фирма «%s»»",
                                       "АО «%s-Патент»", "ООО «Патентное агентство «%s»»"};
  const char* form = rng.Pick(kForms);
  const std::string name = Utf8Capitalize(CyrillicWord(rng));
  char buf[256];
  std::snprintf(buf, sizeof buf, form, name.c_str());
  return std::string(buf) + ", " + RussianAddress(rng) + " (RU)";
}

// --- Objects ------------------------------------------------------------------------------

const char* const kImageSubjects[] = {
    "стилизованной звезды", "кленового листа", "птицы в полёте", "короны",
    "головы льва",          "морской волны",   "горной вершины", "восходящего солнца",
    "щита с лентой",        "капли воды",      "колоса пшеницы", "стилизованного ромба"};
const char* const kColours[] = {"белый",      "чёрный",  "красный",  "синий",
                                "золотистый", "зелёный", "серый",    "серебристый",
                                "оранжевый",  "голубой", "бордовый", "жёлтый"};
const char* const kFills[] = {"#1a3c6e", "#8b1e2d", "#1f6b3a", "#333333", "#b8860b", "#5b2a86"};
const char* const kComments[] = {"Правообладатель просит направлять уведомления представителю",
                                 "Перечень кодов ТН ВЭД уточнён по заявлению правообладателя",
                                 "Сведения о представителе обновлены",
                                 "Требуется сверка с данными Роспатента"};

std::string Svg(const std::string& name, int width, int height, const char* fill) {
  const int font = std::max(8, height / 3);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
         "\" height=\"" + std::to_string(height) +
         "\"><rect width=\"100%\" height=\"100%\" fill=\"" + fill +
         "\"/><text x=\"50%\" y=\"62%\" font-size=\"" + std::to_string(font) +
         "\" text-anchor=\"middle\" fill=\"#fff\">" + XmlEscape(name) + "</text></svg>";
}

std::string Letter(SampleRng& rng, int day, const char* what) {
  const int department = rng.Between(0, 2);
  const int number = rng.Between(10000, 59999);
  return "Письмо ФТС России от " + RuDate(day) + " № 14-4" + std::to_string(department) + "/" +
         std::to_string(number) + " " + what;
}

// Registration numbers are unique by construction: a running number per year of entry.
class RegnomMaker {
 public:
  std::string Make(SampleRng& rng, int year) {
    int& seq = next_[year - kFirstYear];
    seq += rng.Between(1, 3);
    char buf[64];
    if (year >= 2015) {
      std::snprintf(buf, sizeof buf, "%04dУ%05d", year, seq);
    } else {
      // Mostly trademarks; a few works under copyright and appellations of origin.
      const int serial = rng.Between(1000, 999999);
      const int r = static_cast<int>(rng.Below(100));
      const char* kind = r < 94 ? "ТЗ" : r < 98 ? "АП" : "НМПТ";
      std::snprintf(buf, sizeof buf, "%05d/%02d-%06d-%s", seq, year % 100, serial, kind);
    }
    return buf;
  }

  static constexpr int kFirstYear = 2004;
  static constexpr int kLastYear = 2026;

 private:
  int next_[kLastYear - kFirstYear + 1] = {};
};

// The register is drawn as it would stand at the start of December 2026: nothing is taken
// from the machine's clock.
const int kReferenceDay = DayNumber(2026, 12, 1);

class Generator {
 public:
  Generator(uint64_t seed, const SampleSize& size, SampleSink& sink)
      : size_(size), sink_(sink), objects_rng_(seed), omit_rng_(seed ^ 0x6f6d697431353332ULL) {
    SampleRng holders_rng(seed ^ 0x686f6c6465727321ULL);
    const int holders = std::max(8, size.objects / 6);
    holders_.reserve(static_cast<size_t>(holders));
    for (int i = 0; i < holders; ++i) holders_.push_back(DrawHolder(holders_rng));
    const int representatives = std::max(4, std::min(40, size.objects / 50));
    for (int i = 0; i < representatives; ++i)
      representatives_.push_back(DrawRepresentative(holders_rng));
    group_total_ = 0;
    for (const GoodsGroup& g : kGroups) group_total_ += g.weight;
  }

  void Run() {
    for (int i = 0; i < size_.objects; ++i) MakeObject();
    MakeOmitList();
    sink_.Version({"2026.11.3.7", "ТН ВЭД ЕАЭС, ред. от 01.09.2026", 117});
  }

 private:
  const GoodsGroup& DrawGroup(SampleRng& rng) const {
    int r = static_cast<int>(rng.Below(static_cast<uint32_t>(group_total_)));
    for (const GoodsGroup& g : kGroups) {
      if (r < g.weight) return g;
      r -= g.weight;
    }
    return kGroups[0];
  }

  static int DrawGroupChapter(SampleRng& rng, const GoodsGroup& g) {
    int n = 0;
    while (n < 6 && g.chapters[n] != 0) ++n;
    // The group's first chapter is its main one.
    return rng.Percent(50) ? g.chapters[0] : g.chapters[rng.Below(static_cast<uint32_t>(n))];
  }

  int RangeCount(SampleRng& rng) const {
    int n;
    const int r = static_cast<int>(rng.Below(100));
    if (r < 50)
      n = rng.Between(1, 6);
    else if (r < 85)
      n = rng.Between(6, 15);
    else
      n = rng.Between(15, 50);
    return std::min(n, size_.max_ranges_per_object);
  }

  void MakeObject() {
    SampleRng& rng = objects_rng_;
    SampleObject o;
    const GoodsGroup& group = DrawGroup(rng);
    const GoodsGroup* second = rng.Percent(20) ? &DrawGroup(rng) : nullptr;
    if (second == &group) second = nullptr;
    const BrandName brand = DrawBrandName(rng);
    const Holder& holder = holders_[rng.Skewed(static_cast<uint32_t>(holders_.size()))];

    // Dates: the right, its entry into the register, the end of the entry.
    const int dpravo = rng.Between(DayNumber(1996, 1, 1), DayNumber(2026, 6, 30));
    const int entry_year = std::clamp(YearOf(dpravo) + rng.Between(0, 3), RegnomMaker::kFirstYear,
                                      RegnomMaker::kLastYear);
    o.regnom = regnoms_.Make(rng, entry_year);
    const int entry_day = std::min(
        std::max(dpravo, DayNumber(entry_year, 1, 10)) + rng.Between(0, 300), kReferenceDay);
    // Most entries run past the end of 2026, some have ended, a few carry no end date.
    std::optional<int> dateend;
    const int end_kind = static_cast<int>(rng.Below(100));
    const int past_from = std::max(entry_day + 200, DayNumber(2016, 1, 1));
    const int past_to = kReferenceDay - 1;
    if (end_kind >= 1 && end_kind < 15 && past_from <= past_to)
      dateend = rng.Between(past_from, past_to);
    else if (end_kind >= 1)
      dateend = rng.Between(DayNumber(2027, 1, 1), DayNumber(2036, 12, 31));
    if (dateend) o.dateend = IsoDate(*dateend);

    // Name, mark kind, image.
    const int mark = static_cast<int>(rng.Below(100));  // <55 word, <90 combined, figurative
    const std::string quoted = "«" + brand.text + "»";
    o.g31_12 = brand.text;
    o.g31_12l = Utf8Lower(brand.text);
    o.g31_12d = mark < 90 ? brand.text : "Изобразительное обозначение (логотип " + quoted + ")";
    const char* subject = rng.Pick(kImageSubjects);
    if (mark < 55) {
      o.description = "Словесное обозначение " + quoted +
                      ", выполненное стандартным шрифтом буквами " +
                      (brand.cyrillic ? "русского алфавита." : "латинского алфавита.");
    } else if (mark < 90) {
      o.description = "Комбинированное обозначение: словесный элемент " + quoted +
                      ", выполненный оригинальным шрифтом, и изображение " + subject + ".";
    } else {
      o.description =
          std::string("Изобразительное обозначение: стилизованное изображение ") + subject + ".";
    }
    const char* fill = rng.Pick(kFills);
    if (mark >= 55 && rng.Percent(70)) {
      o.f540img64 = Base64(Svg(brand.text, 240, 120, fill));
      o.f540imgtype = "image/svg+xml";
    }
    if (mark >= 55 || rng.Percent(40)) {
      const int w = rng.Between(48, 96), h = rng.Between(24, 48);
      o.f540imgmini64 = Base64(Svg(brand.text, w, h, fill));
      o.f540imgminitype = "image/svg+xml";
      o.f540imgminiwidth = w;
      o.f540imgminiheight = h;
      o.f540imgalt = "Изображение товарного знака " + quoted;
    }
    if (mark >= 55 && rng.Percent(60)) {
      std::string colours = rng.Pick(kColours);
      const int more = rng.Between(0, 2);
      for (int i = 0; i < more; ++i) {
        const char* c = rng.Pick(kColours);
        if (colours.find(c) == std::string::npos) colours += std::string(", ") + c;
      }
      o.f591 = colours;
    }
    if (rng.Percent(20)) o.f526 = std::string("«") + rng.Pick(group.generic_words) + "»";

    // The right: national registrations and international ones.
    const bool international = holder.foreign && rng.Percent(65);
    o.f190 = international ? "WO" : "RU";
    if (international) {
      const std::string number = std::to_string(rng.Between(600000, 1799999));
      o.f111 = number;
      o.npravo = rng.Percent(30) ? "МР" + number : number;
    } else {
      const int base = 150000 + (YearOf(dpravo) - 1996) * 28000;
      const std::string number = std::to_string(base + rng.Between(0, 27999));
      o.f111 = number;
      const int form = static_cast<int>(rng.Below(100));
      o.npravo = form < 65 ? number : form < 90 ? "№" + number : number + "/1";
    }
    o.dpravo = IsoDate(dpravo);
    o.f151date = IsoDate(rng.Percent(85) ? dpravo : dpravo + rng.Between(1, 60));

    o.f732sna = holder.address;
    if (holder.foreign ? rng.Percent(90) : rng.Percent(35))
      o.f740sna = representatives_[rng.Below(static_cast<uint32_t>(representatives_.size()))];
    o.f511 = second ? std::string(group.classes) + ", " + second->classes : group.classes;
    o.f511text = second ? std::string(group.goods) + "; " + second->goods : group.goods;

    // Notes, letters and comments.
    if (dateend && *dateend < kReferenceDay && rng.Percent(60)) {
      const int excluded = *dateend - rng.Between(0, 180);
      o.dateexclude = IsoDate(excluded);
      o.note = "Исключён из Реестра с " + RuDate(excluded) +
               (rng.Percent(50) ? " на основании заявления правообладателя"
                                : " в связи с прекращением правовой охраны");
    } else if (dateend && *dateend >= kReferenceDay && rng.Percent(20)) {
      o.note = "Срок внесения в Реестр продлён до " + RuDate(*dateend);
    }
    if (rng.Percent(35)) {
      std::string letters = Letter(rng, entry_day, "о внесении в Реестр");
      if (rng.Percent(40))
        letters += "\n" + Letter(rng, entry_day + rng.Between(200, 1500), "об изменении сведений");
      o.letterstext = letters;
    }
    if (rng.Percent(5)) o.comm = rng.Pick(kComments);

    // The object's code ranges, each with its own end date.
    std::vector<SampleCodeRange> ranges;
    std::set<std::string> seen;
    const int count = RangeCount(rng);
    for (int i = 0; i < count; ++i) {
      CodeSpan span;
      for (int attempt = 0; attempt < 4; ++attempt) {
        int chapter;
        if (rng.Percent(12))
          chapter = chapters_.Draw(rng);
        else
          chapter = DrawGroupChapter(rng, second && rng.Percent(40) ? *second : group);
        span = DrawSpan(rng, chapter);
        if (!seen.count(span.min)) break;
      }
      if (!seen.insert(span.min).second) continue;
      SampleCodeRange r;
      r.regnom = o.regnom;
      r.g33min = span.min;
      r.g33max = span.max;
      r.g33min10 = PadCode(span.min, '0');
      r.g33max10 = PadCode(span.max.value_or(span.min), '9');
      const int date_kind = static_cast<int>(rng.Below(100));
      if (date_kind < 3 || !dateend)
        r.dateend = std::nullopt;
      else if (date_kind < 8)
        r.dateend = IsoDate(*dateend - rng.Between(365, 1100));
      else
        r.dateend = IsoDate(*dateend);
      ranges.push_back(std::move(r));
    }
    std::sort(ranges.begin(), ranges.end(), [](const SampleCodeRange& a, const SampleCodeRange& b) {
      return a.g33min < b.g33min;
    });
    std::string g33text;
    for (const SampleCodeRange& r : ranges) {
      if (!g33text.empty()) g33text += ", ";
      g33text += r.g33min;
      if (r.g33max) g33text += "-" + *r.g33max;
    }
    o.g33text = g33text;
    // The search text: the name as typed in upper case, and what the figure shows.
    o.trademark = Utf8Upper(brand.text);
    if (mark >= 55) *o.trademark += std::string(" ") + subject;

    sink_.Object(o);
    for (const SampleCodeRange& r : ranges) sink_.CodeRange(r);
  }

  // The list of goods of order 1532: one row per code, numbered in code order, with the
  // marks the goods carry.
  void MakeOmitList() {
    SampleRng& rng = omit_rng_;
    std::set<std::string> codes;
    for (int attempt = 0;
         static_cast<int>(codes.size()) < size_.omit_rows && attempt < size_.omit_rows * 20;
         ++attempt)
      codes.insert(DrawSpan(rng, chapters_.Draw(rng)).min);
    static const char* const kNotes[] = {
        "за исключением товаров, бывших в употреблении",
        "в отношении запасных частей и принадлежностей", "включено с 01.07.2023",
        "в отношении товаров, предназначенных для розничной продажи",
        "в отношении всех товаров указанного кода"};
    int npp = 0;
    for (const std::string& code : codes) {
      SampleOmit row;
      row.g33 = code;
      row.npp = ++npp;
      std::string marks;
      const int n = rng.Between(1, 5);
      for (int i = 0; i < n; ++i) {
        if (!marks.empty()) marks += ", ";
        marks += Utf8Upper(LatinWord(rng, rng.Between(2, 3)));
      }
      row.g31_12 = marks;
      if (rng.Percent(25)) row.note = rng.Pick(kNotes);
      if (rng.Percent(8))
        row.dateend = IsoDate(rng.Between(DayNumber(2024, 1, 1), DayNumber(2028, 12, 31)));
      row.g33min10 = PadCode(code, '0');
      row.g33max10 = PadCode(code, '9');
      sink_.Omit(row);
    }
  }

  const SampleSize size_;
  SampleSink& sink_;
  SampleRng objects_rng_, omit_rng_;
  std::vector<Holder> holders_;
  std::vector<std::string> representatives_;
  RegnomMaker regnoms_;
  ChapterTable chapters_;
  int group_total_ = 0;
};

}  // namespace

void GenerateSampleRegister(uint64_t seed, const SampleSize& size, SampleSink& sink) {
  Generator(seed, size, sink).Run();
}
