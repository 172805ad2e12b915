// Remote control of the windows over standard input, for end-to-end tests and screenshots. One
// command per line; each gets exactly one answer line on standard output starting with "@@ ":
//   click NAME          press a button, option or check box (answer before the click runs, since a
//                       click may open a modal window)       -> "@@ ok", "@@ disabled", "@@ missing"
//   select NAME INDEX   select a combo box item              -> "@@ ok", "@@ missing", "@@ bad index"
//   get NAME            "@@ get NAME class=C enabled=0|1 selected=0|1 cursel=N value=N text=T"
//                       (text last; line ends in it escaped as \n)
//   grab FILE           save the shown window as a PNG       -> "@@ ok" or "@@ failed"
//   drop PATH           drop a file or folder on the shown window, as from a file manager (the rest
//                       of the line is the path)              -> "@@ ok", "@@ refused", "@@ missing"
//   quit                close every window, as the user would (a window may ask first) -> "@@ ok"
// Names are looked up in the windows that are shown. End of input closes every window too, so a
// tool whose test driver died doesn't stay behind. UI thread only.
#pragma once

// Starts reading commands once the event loop runs; writes "@@ ready" at once. 1 on success, 0 when
// this platform has no such channel.
int StartAutomation();
