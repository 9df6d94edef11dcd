' Plays a clip to its end through Kestrava from VBScript.
' Usage: cscript //nologo play.vbs CLIP
' A script has no window to give, so it passes 0: the engine plays without a picture and posts
' no end-of-file message, and the script watches PlayPos instead. WScript.Sleep is not used:
' Wine's script host raises error 445 for it.
Option Explicit
Const NoProgressSeconds = 10
Dim failures, player, clip, position, lastPosition, lastChange
failures = 0

Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Sub Finish()
    WScript.Echo "KESTRAVA-SCRIPT-END " & failures
    WScript.Quit failures
End Sub

If WScript.Arguments.Count <> 1 Then
    WScript.Echo "usage: cscript //nologo play.vbs CLIP"
    failures = 1
    Finish
End If
clip = WScript.Arguments(0)

On Error Resume Next
Set player = CreateObject("Kestrava.KestravaCOM")
If Err.Number <> 0 Then
    ' 429: Kestrava.DLL is not registered (or was registered for the other bitness).
    WScript.Echo "FAIL: CreateObject raised " & Err.Number & ": " & Err.Description
    failures = 1
    Finish
End If
On Error GoTo 0

' Refusals come back as S_FALSE, which a script does not see: check the effect instead.
player.OpenFile clip, 0
player.SetVolume 80
Check player.Volume = 79, "Volume reads back one less than was set, got " & player.Volume
player.Play

' Seconds since midnight wrap once a day; a wrapped difference only restarts the wait.
lastPosition = -1
lastChange = Timer
Do
    position = player.PlayPos
    If position <> lastPosition Then
        lastPosition = position
        lastChange = Timer
    ElseIf Timer - lastChange > NoProgressSeconds Or Timer < lastChange Then
        Exit Do
    End If
Loop While position < 100
Check position = 100, "the clip played to its end (PlayPos stopped at " & position & _
      "%; the engine's reason is in the log)"
WScript.Echo "played " & clip & " to " & position & "%"

player.Stop
player.CloseFile
Set player = Nothing
Finish
