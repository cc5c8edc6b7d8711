#pragma once
// Drawing requests to the X server wait in the client's buffer until the event
// loop next runs. A caller that paints and then keeps the interface thread
// busy (the view painting a quick preview while the whole picture is decoded)
// sends them at once with FlushDisplay. Elsewhere than on X it does nothing.

void FlushDisplay();
