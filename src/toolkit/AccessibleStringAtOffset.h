#pragma once

// Screen readers on the desktop's accessibility bus (AT-SPI) ask a text for its lines, words and
// characters with the Text interface's GetStringAtOffset. The bridge of Qt 6.4 answers only the older
// GetTextAtOffset, so the call fails ("No such object path") and a reader cannot read the page by its
// rows. Once accessibility is on, this puts an object in front of the bridge on the bus that answers
// GetStringAtOffset from the object's accessible text (QAccessibleTextInterface::textAtOffset) and
// hands every other message to the bridge; a bridge that answers the call itself is left to it.
// Calling it again does nothing.
void AnswerStringAtOffset();
