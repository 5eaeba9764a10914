#include "database.h"

#include <algorithm>

#include "stream_name.h"

namespace installer {

Outcome Database::Open(const char* path, std::unique_ptr<Database>* out) {
  std::unique_ptr<FileReader> file;
  INSTALLER_TRY(FileReader::Open(path, &file));
  std::unique_ptr<Database> db(new Database());
  INSTALLER_TRY(CompoundFile::Open(std::move(file), &db->container_));

  const CompoundFile::Entry* pool = db->container_->FindChild(EncodeStreamName("_StringPool", true));
  if (!pool) return INSTALLER_DAMAGED("no string pool: not a database");
  std::vector<uint8_t> pool_bytes, data_bytes;
  INSTALLER_TRY(db->container_->ReadStream(*pool, &pool_bytes));
  if (const CompoundFile::Entry* data = db->container_->FindChild(EncodeStreamName("_StringData", true)))
    INSTALLER_TRY(db->container_->ReadStream(*data, &data_bytes));
  INSTALLER_TRY(StringPool::Load(pool_bytes, std::move(data_bytes), &db->pool_));
  INSTALLER_TRY(Catalog::Load(*db->container_, *db->pool_, &db->catalog_));
  *out = std::move(db);
  return Outcome();
}

Outcome Database::LoadTable(const TableSchema& schema, std::shared_ptr<const TableData>* out) const {
  if (&schema == &Catalog::TablesSchema()) {
    *out = catalog_->tables_data();
    return Outcome();
  }
  if (&schema == &Catalog::ColumnsSchema()) {
    *out = catalog_->columns_data();
    return Outcome();
  }
  const bool streams = &schema == &Catalog::StreamsSchema();
  if (streams || &schema == &Catalog::StoragesSchema()) {
    const auto wanted = streams ? CompoundFile::EntryType::kStream : CompoundFile::EntryType::kStorage;
    std::vector<std::string> names;
    for (const CompoundFile::Entry& entry : container_->children()) {
      if (entry.type != wanted) continue;
      DecodedStreamName decoded = DecodeStreamName(entry.name);
      if (!decoded.table_stream) names.push_back(std::move(decoded.name));
    }
    std::sort(names.begin(), names.end());
    *out = MakeNameTable(std::move(names));
    return Outcome();
  }
  return LoadStoredTable(*container_, *pool_, schema, out);
}

}  // namespace installer
