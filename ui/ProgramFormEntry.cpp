// The entry dialog's reads and writes of its schedule entry; its layout and its behaviour as a
// dialog are in ProgramForm.cpp.
#include "ui/ProgramForm.h"

#include "report/DataError.h"
#include "report/Prompter.h"
#include "store/EntryOptions.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"
#include "ui/OptionsWithEntry.h"

#include <QLineEdit>

#include <optional>
#include <utility>

namespace {

QString notFound()
{
    return TFormProgram::tr("找不到要修改的记录");
}

QString noOptions()
{
    return TFormProgram::tr("该记录所在的表没有主键，记录不能有选项");
}

} // namespace

void TFormProgram::readEntry()
{
    Query *query = ShareDataModule->ADOQueryTemp;
    if (!OpenQuery(query, ScheduleSql::byKey + QString::number(EditIndex),
                   ScheduleSql::readFailed)) {
        setModalResult(mrCancel);
        return;
    }
    if (query->recordCount() <= 0) {
        ShowMessage(notFound());
        setModalResult(mrCancel);
        return;
    }
    m_canHaveOptions = entriesCanHaveOptions(*query);
    if (m_canHaveOptions) {
        // Read before anything is shown: a dialog that cannot show the whole entry shows none.
        EntryOptionsTable::Stored stored;
        try {
            stored = EntryOptionsTable::read(*query->connection())
                         .value(QString::number(EditIndex), EntryOptionsTable::Stored());
        } catch (const DatabaseBusyError &) {
            ShowMessage(ScheduleSql::heldUp);
            setModalResult(mrCancel);
            return;
        } catch (const DatabaseError &) {
            ShowMessage(ScheduleSql::readFailed);
            setModalResult(mrCancel);
            return;
        }
        m_options = stored.options;
        m_optionsProblem = stored.problem;
    }
    Edit1->setText(query->fieldByName(ScheduleSql::programName).asString());
    Edit4->setText(query->fieldByName(ScheduleSql::programParameter).asString());
    Edit2->setText(query->fieldByName(ScheduleSql::programTime).asString());
    Edit3->setText(query->fieldByName(ScheduleSql::programCount).asString());
    for (const QLineEdit *edit : {Edit1, Edit4, Edit2, Edit3})
        m_shownTexts.insert(edit, edit->text());
    m_shownRow = query->currentRow();
    m_shownSource = query->source();
}

void TFormProgram::writeEntry(Query *query) const
{
    const std::pair<QString, const QLineEdit *> fields[] = {
        {ScheduleSql::programName, Edit1},
        {ScheduleSql::programParameter, Edit4},
        {ScheduleSql::programTime, Edit2},
        {ScheduleSql::programCount, Edit3},
    };
    for (const auto &[name, edit] : fields) {
        // A text left as it was shown is not written back: the edit can only show what was
        // stored, so writing it would turn bytes that are not UTF-8 into replacement characters,
        // a number into a text, or refuse a value another tool stored, none of which the person
        // asked for.
        const auto shown = m_shownTexts.constFind(edit);
        if (shown != m_shownTexts.cend() && *shown == edit->text())
            continue;
        query->fieldByName(name).setAsString(edit->text());
    }
}

bool TFormProgram::canHaveOptions()
{
    if (EditMode == Mode::Add) {
        // Nothing was read at the show: the table is looked at now.
        Query *query = ShareDataModule->ADOQueryTemp;
        if (!OpenQuery(query, ScheduleSql::list, ScheduleSql::openFailed))
            return false;
        m_canHaveOptions = entriesCanHaveOptions(*query);
    }
    if (!m_canHaveOptions)
        ShowMessage(noOptions());
    return m_canHaveOptions;
}

void TFormProgram::ActionYesExecute()
{
    Query *query = ShareDataModule->ADOQueryTemp;
    // The table may have lost its key since the options were chosen.
    const auto refusesOptions = [&] {
        if (m_options.isDefault() || entriesCanHaveOptions(*query))
            return false;
        ShowMessage(noOptions());
        return true;
    };
    if (EditMode == Mode::Add) {
        if (!OpenQuery(query, ScheduleSql::list, ScheduleSql::openFailed, ScheduleSql::inUse))
            return;
        if (refusesOptions())
            return;
        // Even none are written: options that another program's delete left behind under the
        // key the new entry takes are not the new entry's.
        {
            const OptionsWithEntry options(query, m_options);
            query->insert();
            writeEntry(query);
            query->post();
        }
        ShowMessage(TFormProgram::tr("记录新增成功"));
        setModalResult(mrOk);
        return;
    }
    if (!OpenQuery(query, ScheduleSql::byKey + QString::number(EditIndex), ScheduleSql::openFailed,
                   ScheduleSql::inUse))
        return;
    try {
        // The entry must still be exactly the one shown, in the same file; the write itself
        // refuses a row changed in between.
        if (query->source() != m_shownSource || !query->locate(m_shownRow))
            throw StaleRowError(ScheduleSql::changedElsewhere);
        if (m_optionsChosen && refusesOptions())
            return;
        std::optional<OptionsWithEntry> options;
        if (m_optionsChosen)
            options.emplace(query, m_options);
        query->edit();
        writeEntry(query);
        query->post();
    } catch (const StaleRowError &error) {
        query->cancel();
        ShowMessage(error.message());
        setModalResult(mrAbort);
        return;
    }
    ShowMessage(TFormProgram::tr("记录修改成功"));
    setModalResult(mrOk);
}
