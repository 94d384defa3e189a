#pragma once

#include <QString>

class Query;
struct EntryOptions;

// Whether the entries a query reads can have options: only when ProgramIndex is their table's one
// key, as options are found by it. A table without keys (its rows found by their rowid) has none.
bool entriesCanHaveOptions(const Query &query);

// An entry's options written (or, with none, deleted) in the transaction of the entry's own write
// by the query, while this lives: the entry's insert or change, or its delete. Where the entry
// cannot have options, nothing is written with it. The options of entries that another program
// deleted go in the same write.
class OptionsWithEntry final
{
public:
    // Writes these options with the entry that the query inserts or changes next.
    OptionsWithEntry(Query *query, const EntryOptions &options);
    // Deletes the options of the entry that the query deletes next.
    explicit OptionsWithEntry(Query *query);
    ~OptionsWithEntry();
    OptionsWithEntry(const OptionsWithEntry &) = delete;
    OptionsWithEntry &operator=(const OptionsWithEntry &) = delete;

private:
    Query *m_query;
};
