// An open database: its container, string pool and catalog, and access to
// the cells of any table.
#pragma once

#include <memory>
#include <string>

#include "catalog.h"
#include "compound_file.h"
#include "outcome.h"
#include "string_pool.h"
#include "table.h"

namespace installer {

class Database {
 public:
  // Opens the file and reads everything a query needs: the container's
  // directory, the string pool and the catalog. Table streams are read later.
  static Outcome Open(const char* path, std::unique_ptr<Database>* out);

  const StringPool& pool() const { return *pool_; }
  const Catalog& catalog() const { return *catalog_; }
  const CompoundFile& container() const { return *container_; }

  // The cells of a table known to the catalog.
  Outcome LoadTable(const TableSchema& schema, std::shared_ptr<const TableData>* out) const;

 private:
  Database() = default;

  std::unique_ptr<CompoundFile> container_;
  std::unique_ptr<StringPool> pool_;
  std::unique_ptr<Catalog> catalog_;
};

}  // namespace installer
