#include "sync/mass_deletion.h"

namespace calsync {

bool massDeletion(int deleting, int total, bool otherSideEmptied)
{
    if (deleting <= 0)
        return false;
    return otherSideEmptied || (deleting > kDeletionHandful && deleting * 2 > total);
}

} // namespace calsync
