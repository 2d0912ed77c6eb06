// What the runtime's sources share between themselves.
#pragma once

// Releases every font of the font table.
void ReleaseAllFonts();
