// make_sample_database OUT.msi
//
// Writes the project's sample database: a small but realistic installer
// database for a made-up product, code page 1252, with the usual tables, a
// binary stream, a multi-line script, nulls, an empty table and a summary
// information stream. The output is the same on every run.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "database_writer.h"

namespace {

using testsupport::ColumnDef;
using testsupport::DatabaseDef;
using testsupport::TableDef;
using testsupport::Value;
namespace ct = testsupport::coltype;

Value S(const char* s) { return Value::Str(s); }
Value I(int32_t v) { return Value::Int(v); }
Value N() { return Value::Null(); }

constexpr uint16_t Key(uint16_t type) { return type | ct::kKey; }
constexpr uint16_t Opt(uint16_t type) { return type | ct::kNullable; }
constexpr uint16_t Str(uint16_t width) { return ct::kString | width; }
constexpr uint16_t Loc(uint16_t width) { return ct::kLocalized | width; }

void PutU16(std::string* out, uint32_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>((v >> 8) & 0xFF));
}

void PutU32(std::string* out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

// A property set stream with one section (the summary information format
// id) holding a code page, some text properties and two integers.
std::string SummaryInformation() {
  struct Property {
    uint32_t id;
    uint32_t type;  // 2 = 2-byte integer, 3 = 4-byte integer, 30 = code page text
    int32_t integer;
    std::string text;
  };
  const std::vector<Property> props = {
      {1, 2, 1252, ""},
      {2, 30, 0, "Installation Database"},
      {3, 30, 0, "Sample Viewer"},
      {4, 30, 0, "M\xFCller Software"},
      {5, 30, 0, "Installer, Sample Viewer"},
      {7, 30, 0, "Intel;1033"},
      {9, 30, 0, "{5C1A7E3F-2B94-4D6E-8A0C-71F3D9B2E648}"},
      {14, 3, 200, ""},
      {15, 3, 2, ""},
  };
  std::string values;
  std::vector<uint32_t> offsets;
  const uint32_t table_size = 8 + 8 * static_cast<uint32_t>(props.size());
  for (const auto& p : props) {
    offsets.push_back(table_size + static_cast<uint32_t>(values.size()));
    PutU32(&values, p.type);
    if (p.type == 2) {
      PutU16(&values, static_cast<uint32_t>(p.integer) & 0xFFFF);
      PutU16(&values, 0);
    } else if (p.type == 3) {
      PutU32(&values, static_cast<uint32_t>(p.integer));
    } else {
      PutU32(&values, static_cast<uint32_t>(p.text.size() + 1));
      values += p.text;
      values.push_back('\0');
      while (values.size() % 4 != 0) values.push_back('\0');
    }
  }
  std::string section;
  PutU32(&section, table_size + static_cast<uint32_t>(values.size()));
  PutU32(&section, static_cast<uint32_t>(props.size()));
  for (size_t i = 0; i < props.size(); ++i) {
    PutU32(&section, props[i].id);
    PutU32(&section, offsets[i]);
  }
  section += values;

  std::string out;
  PutU16(&out, 0xFFFE);      // byte order
  PutU16(&out, 0);           // format version
  PutU32(&out, 0x00020006);  // originating system
  out.append(16, '\0');      // class id
  PutU32(&out, 1);           // one section
  // {F29F85E0-4FF9-1068-AB91-08002B27B3D9}, the summary information format id.
  static const unsigned char kFormatId[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                              0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  out.append(reinterpret_cast<const char*>(kFormatId), 16);
  PutU32(&out, static_cast<uint32_t>(out.size() + 4));  // section offset
  out += section;
  return out;
}

DatabaseDef SampleDatabase() {
  DatabaseDef db;
  db.code_page = 1252;
  db.unused_string_ids = {3};

  db.tables.push_back(TableDef{"Property",
                               {{"Property", Key(Str(72))}, {"Value", Loc(0)}},
                               {
                                   {S("ProductCode"), S("{8F3A1C52-6D4B-4E1A-9C2F-3B5D7E9A1C04}")},
                                   {S("ProductName"), S("Sample Viewer")},
                                   {S("ProductVersion"), S("1.4.2")},
                                   {S("Manufacturer"), S("M\xFCller Software")},
                                   {S("ProductLanguage"), S("1033")},
                                   {S("UpgradeCode"), S("{D2E4B6A8-1C3E-4F5A-9B7D-0E2C4A6B8D1F}")},
                                   {S("ALLUSERS"), S("1")},
                                   {S("ARPCOMMENTS"), S("Views sample files \x96 quickly.")},
                               }});

  db.tables.push_back(TableDef{
      "Directory",
      {{"Directory", Key(Str(72))}, {"Directory_Parent", Opt(Str(72))}, {"DefaultDir", Loc(255)}},
      {
          {S("TARGETDIR"), N(), S("SourceDir")},
          {S("ProgramFilesFolder"), S("TARGETDIR"), S(".")},
          {S("INSTALLDIR"), S("ProgramFilesFolder"), S("SAMPLE~1|Sample Viewer")},
      }});

  db.tables.push_back(
      TableDef{"Component",
               {{"Component", Key(Str(72))},
                {"ComponentId", Opt(Str(38))},
                {"Directory_", Str(72)},
                {"Attributes", ct::kInt2},
                {"Condition", Opt(Str(255))},
                {"KeyPath", Opt(Str(72))}},
               {
                   {S("MainExecutable"), S("{0B9D4C1E-7A25-4F83-B6E1-5D3C2A9F8E07}"),
                    S("INSTALLDIR"), I(0), N(), S("viewer.exe")},
                   {S("HelpFiles"), S("{6E2F8A4D-3B1C-4D9E-A7F5-1C8B0D2E4F69}"), S("INSTALLDIR"),
                    I(0), N(), S("help.chm")},
                   {S("RegistryEntries"), N(), S("INSTALLDIR"), I(4), S("VersionNT >= 601"), N()},
               }});

  db.tables.push_back(
      TableDef{"File",
               {{"File", Key(Str(72))},
                {"Component_", Str(72)},
                {"FileName", Loc(255)},
                {"FileSize", ct::kInt4},
                {"Version", Opt(Str(72))},
                {"Language", Opt(Str(20))},
                {"Attributes", Opt(ct::kInt2)},
                {"Sequence", ct::kInt2}},
               {
                   {S("viewer.exe"), S("MainExecutable"), S("VIEWER.EXE|viewer.exe"), I(1048576),
                    S("1.4.2.0"), S("1033"), I(512), I(1)},
                   {S("help.chm"), S("HelpFiles"), S("help.chm"), I(53248), N(), N(), N(), I(3)},
                   {S("viewer.dll"), S("MainExecutable"), S("viewer.dll"), I(204800), S("1.4.2.0"),
                    S("0"), I(512), I(2)},
                   {S("readme.txt"), S("HelpFiles"), S("README.TXT|readme.txt"), I(1843), N(), N(),
                    I(0), I(4)},
               }});

  db.tables.push_back(TableDef{"Feature",
                               {{"Feature", Key(Str(38))},
                                {"Feature_Parent", Opt(Str(38))},
                                {"Title", Opt(Loc(64))},
                                {"Description", Opt(Loc(255))},
                                {"Display", Opt(ct::kInt2)},
                                {"Level", ct::kInt2},
                                {"Directory_", Opt(Str(72))},
                                {"Attributes", ct::kInt2}},
                               {
                                   {S("Complete"), N(), S("Sample Viewer"),
                                    S("The complete package."), I(1), I(1), S("INSTALLDIR"), I(24)},
                                   {S("Documentation"), S("Complete"), S("Documentation"),
                                    S("Help files and the readme."), I(3), I(3), N(), I(0)},
                               }});

  db.tables.push_back(TableDef{"FeatureComponents",
                               {{"Feature_", Key(Str(38))}, {"Component_", Key(Str(72))}},
                               {
                                   {S("Complete"), S("MainExecutable")},
                                   {S("Complete"), S("RegistryEntries")},
                                   {S("Documentation"), S("HelpFiles")},
                               }});

  db.tables.push_back(TableDef{
      "Binary",
      {{"Name", Key(Str(72))}, {"Data", ct::kBinary}},
      {
          {S("ViewerIcon"), Value::Stream(std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0", 14) +
                                          "sample icon data")},
      }});

  db.tables.push_back(TableDef{
      "CustomAction",
      {{"Action", Key(Str(72))},
       {"Type", ct::kInt2},
       {"Source", Opt(Str(72))},
       {"Target", Opt(Str(255))}},
      {
          {S("SetInstallDir"), I(51), S("INSTALLDIR"), S("[ProgramFilesFolder]Sample Viewer\\")},
          {S("CheckPrerequisites"), I(38), N(),
           S("Function Check()\r\n"
             "  If Session.Property(\"VersionNT\") < 601 Then\r\n"
             "    Check = 3\r\n"
             "  Else\r\n"
             "    Check = 1\r\n"
             "  End If\r\n"
             "End Function")},
      }});

  db.tables.push_back(TableDef{
      "InstallExecuteSequence",
      {{"Action", Key(Str(72))}, {"Condition", Opt(Str(255))}, {"Sequence", Opt(ct::kInt2)}},
      {
          {S("CostInitialize"), N(), I(800)},
          {S("FileCost"), N(), I(900)},
          {S("CostFinalize"), N(), I(1000)},
          {S("SetInstallDir"), S("NOT Installed"), I(1010)},
          {S("CheckPrerequisites"), S("NOT Installed AND NOT REMOVE"), I(1020)},
          {S("InstallValidate"), N(), I(1400)},
          {S("InstallInitialize"), N(), I(1500)},
          {S("ProcessComponents"), N(), I(1600)},
          {S("InstallFiles"), N(), I(4000)},
          {S("RegisterProduct"), N(), I(6100)},
          {S("PublishFeatures"), N(), I(6300)},
          {S("PublishProduct"), N(), I(6400)},
          {S("InstallFinalize"), N(), I(6600)},
      }});

  db.tables.push_back(TableDef{"ListBox",
                               {{"Property", Key(Str(72))},
                                {"Order", Key(ct::kInt2)},
                                {"Value", Key(Str(64))},
                                {"Text", Opt(Loc(64))}},
                               {}});

  testsupport::ExtraStream summary;
  summary.name = "\x05SummaryInformation";
  summary.data = SummaryInformation();
  summary.literal = true;
  db.streams.push_back(summary);
  return db;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_database OUT.msi\n");
    return 2;
  }
  try {
    DatabaseDef db = SampleDatabase();
    if (!testsupport::SortRowsByKey(&db)) {
      std::fprintf(stderr, "make_sample_database: row order did not settle\n");
      return 1;
    }
    if (!testsupport::WriteDatabaseFile(argv[1], db)) {
      std::perror(argv[1]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample_database: %s\n", e.what());
    return 1;
  }
  return 0;
}
