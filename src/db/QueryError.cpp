#include "db/QueryError.h"

#include <QCoreApplication>

QueryError QueryError::cancelled()
{
    return {Kind::Cancelled, QCoreApplication::translate("DatabaseExecutor", "Query cancelled.")};
}

QueryError QueryError::timedOut(int seconds)
{
    return {Kind::TimedOut, QCoreApplication::translate(
                                "DatabaseExecutor", "The server did not answer within %n seconds.", nullptr, seconds)};
}
