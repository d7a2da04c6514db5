#include "platform/failure.h"

#include <exception>
#include <new>

namespace platform {

QString describeCurrentException()
{
    try {
        throw;
    } catch (const Failure& failure) {
        return failure.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("メモリが足りません。");
    } catch (const std::exception& error) {
        return QStringLiteral("予期しないエラーが発生しました（%1）。").arg(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        return QStringLiteral("予期しないエラーが発生しました。");
    }
}

} // namespace platform
