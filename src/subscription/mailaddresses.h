#pragma once

#include <QString>

// The addresses the subscription and page-sending commands hand to the desktop.

// First name, last name and e-mail all given; "?" (a value never stored)
// counts as given, only a stored empty value does not.
bool userDataComplete(const QString &name, const QString &lastname, const QString &email);

// "mailto:" + recipient + "?subject=Subscribe", and the same with "Unsubscribe".
QString subscribeMail(const QString &recipient);
QString unsubscribeMail(const QString &recipient);

// The web address of the page whose address-bar text is given: a text that
// starts with "http://" is the address itself; a local path or file URL
// inside programFolder becomes webBase followed by the path below the folder;
// any other text has its backslashes made slashes, loses its first 12
// characters and gets webBase in front.
QString pageAddress(const QString &addressBarText, const QString &webBase,
                    const QString &programFolder);

// A message without recipient, with a fixed subject, whose body is the page
// address percent-encoded so that it arrives whole.
QString sendPageMail(const QString &pageAddress);

// The regulator's web page for subscribing and unsubscribing, from the
// settings: [http] suscripcion, the whole address, when it is set; otherwise
// the page's fixed path over HTTPS on the host of [http] web. Empty when
// neither gives a host.
QString webSubscriptionPage(const QString &subscriptionSetting, const QString &webSetting);
