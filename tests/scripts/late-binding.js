// Late binding from JScript, which passes names exactly as written.
var failures = 0;

function check(condition, what) {
    if (!condition) {
        WScript.Echo("FAIL: " + what);
        failures++;
    }
}

// The script error number a call raised, 0 for none.
function errorOf(call) {
    try {
        call();
        return 0;
    } catch (e) {
        return e.number & 0xFFFF;
    }
}

var player = null;
try {
    player = new ActiveXObject("Kestrava.KestravaCOM");
} catch (e) {
    WScript.Echo("FAIL: ActiveXObject raised " + e.number);
}

if (player) {
    check(errorOf(function () { player.OpenFile("C:\\no such file.mp4", 0); }) == 0, "OpenFile");
    check(errorOf(function () { player.Play(); }) == 0, "Play");
    check(errorOf(function () { player.play(); }) == 0, "play");
    check(errorOf(function () { player.FAST(); }) == 0, "FAST");
    check(errorOf(function () { player.Slow(); }) == 0, "Slow");
    check(errorOf(function () { player.SetVolume(100); }) == 0, "SetVolume");
    check(typeof player.PlayPos == "number", "PlayPos is a number");
    check(typeof player.volume == "number", "volume is a number");
    // JScript reads a name the object refuses as undefined.
    check(typeof player.TotalTime == "undefined", "TotalTime refused");
    check(errorOf(function () { player.IFrameForward(); }) == 438, "IFrameForward refused");
    check(errorOf(function () { player.Stop(); }) == 0, "Stop");
    check(errorOf(function () { player.CloseFile(); }) == 0, "CloseFile");
    player = null;
} else {
    failures++;
}

WScript.Echo("KESTRAVA-SCRIPT-END " + failures);
WScript.Quit(failures);
