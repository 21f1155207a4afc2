// What a message box would answer when nobody is there to press a button:
// the button that Enter would press. Portable: the box types and button ids
// are the system's numbers, written out here.
#pragma once

// The id of the default button of a message box of `type` (its button set
// in the low four bits, the default button's place in the next four):
// IDOK for an OK box, IDYES for Yes/No, the second button of a box whose
// second button is the default, and so on. A default place beyond the
// box's buttons gives its first button, as the system does.
int DefaultMessageAnswer(unsigned type);
