// Plays a clip to its end through Kestrava from JScript.
// Usage: cscript //nologo play.js CLIP
// A script has no window to give, so it passes 0: the engine plays without a picture and posts
// no end-of-file message, and the script watches PlayPos instead. WScript.Sleep is not used:
// Wine's script host raises error 445 for it.
var noProgressMs = 10000;
var failures = 0;

function check(condition, what) {
    if (!condition) {
        WScript.Echo("FAIL: " + what);
        failures++;
    }
}

function finish() {
    WScript.Echo("KESTRAVA-SCRIPT-END " + failures);
    WScript.Quit(failures);
}

function main() {
    if (WScript.Arguments.length != 1) {
        WScript.Echo("usage: cscript //nologo play.js CLIP");
        failures = 1;
        return;
    }
    var clip = WScript.Arguments(0);
    var player;
    try {
        player = new ActiveXObject("Kestrava.KestravaCOM");
    } catch (e) {
        // -2146827859 (800A01AD, error 429): Kestrava.DLL is not registered, or for the other
        // bitness.
        WScript.Echo("FAIL: new ActiveXObject raised " + e.number + ": " + e.description);
        failures = 1;
        return;
    }

    // Refusals come back as S_FALSE, which a script does not see: check the effect instead.
    player.OpenFile(clip, 0);
    player.SetVolume(80);
    check(player.Volume == 79, "Volume reads back one less than was set, got " + player.Volume);
    player.Play();

    var position = player.PlayPos;
    var lastPosition = position;
    var lastChange = new Date().getTime();
    while (position < 100 && new Date().getTime() - lastChange < noProgressMs) {
        position = player.PlayPos;
        if (position != lastPosition) {
            lastPosition = position;
            lastChange = new Date().getTime();
        }
    }
    check(position == 100, "the clip played to its end (PlayPos stopped at " + position +
                               "%; the engine's reason is in the log)");
    WScript.Echo("played " + clip + " to " + position + "%");

    player.Stop();
    player.CloseFile();
}

try {
    main();
} catch (e) {
    WScript.Echo("FAIL: " + e.number + ": " + e.description);
    failures++;
}
finish();
