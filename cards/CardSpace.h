/*
 * The free and total space of a card, for the card list and the clearing
 * page's storage display.
 */
#ifndef CARDS_CARDSPACE_H
#define CARDS_CARDSPACE_H

#include <QString>

namespace CardSpace {

/*
 * The bytes free (for an unprivileged user) and in all on the volume mounted
 * at `mountPath`. False, with both -1, when `mountPath` is not the root of a
 * mounted volume or the query fails.
 */
bool measure(const QString &mountPath, qint64 *freeBytes, qint64 *totalBytes);

} // namespace CardSpace

#endif
