#include "ui/OptionsWithEntry.h"

#include "report/DataError.h"
#include "store/EntryOptions.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"

bool entriesCanHaveOptions(const Query &query)
{
    const int key = query.keyColumn();
    return key >= 0 && key == query.fieldIndex(ScheduleSql::programIndex);
}

OptionsWithEntry::OptionsWithEntry(Query *query, const EntryOptions &options)
    : m_query(query)
{
    if (!entriesCanHaveOptions(*query))
        return;
    query->setWrittenWith(
        ScheduleSql::programIndex,
        [query, options](Transaction &transaction, const ValueView &key) {
            const bool numbered = key.type == ValueView::Type::Integer;
            // None to write only takes away what may be there: it brings no
            // file up to the version with the table of options.
            if (numbered && options.isDefault())
                EntryOptionsTable::remove(transaction, *query->connection(), key.integer);
            else if (numbered)
                EntryOptionsTable::write(transaction, *query->connection(), key.integer, options);
            else if (!options.isDefault())
                throw DatabaseError(QString::fromUtf8(
                    QT_TRANSLATE_NOOP("Messages", "该记录的程序编号不是整数，不能有选项")));
            // What another program's deletes left behind goes with the next write.
            EntryOptionsTable::removeOrphans(transaction, *query->connection());
        });
}

OptionsWithEntry::OptionsWithEntry(Query *query)
    : m_query(query)
{
    if (!entriesCanHaveOptions(*query))
        return;
    query->setWrittenWith(
        ScheduleSql::programIndex, [query](Transaction &transaction, const ValueView &key) {
            if (key.type == ValueView::Type::Integer)
                EntryOptionsTable::remove(transaction, *query->connection(), key.integer);
            EntryOptionsTable::removeOrphans(transaction, *query->connection());
        });
}

OptionsWithEntry::~OptionsWithEntry()
{
    // The query writes nothing more with its rows than what they hold.
    m_query->setWrittenWith(QString(), {});
}
