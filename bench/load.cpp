// Opens the list query on a schedule database as the program does and reads every field of
// every row as text: vantrel_bench_load DATABASE. Prints how many characters it read.
#include "store/Connection.h"
#include "store/Field.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"
#include "store/ShareDM.h"

#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantrel_bench_load DATABASE\n");
        return 2;
    }
    Connection connection(QString::fromLocal8Bit(argv[1]));
    Query list(QStringLiteral("ADOQuery1"));
    list.setConnection(&connection);
    if (!OpenQuery(&list, ScheduleSql::list, ScheduleSql::openFailed))
        return 1;

    std::vector<Field> fields;
    for (int column = 0; column < list.fieldCount(); ++column)
        fields.push_back(list.fieldByName(list.fieldName(column)));
    qsizetype characters = 0;
    for (; !list.eof(); list.next()) {
        for (const Field &field : fields)
            characters += field.asString().size();
    }
    std::printf("%lld\n", static_cast<long long>(characters));
    return 0;
}
