' Late binding from VBScript: names in any letter case, property gets, refusals.
Option Explicit
Dim failures, player, value
failures = 0

Sub Check(condition, what)
    If Not condition Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

On Error Resume Next
Set player = CreateObject("Kestrava.KestravaCOM")
If Err.Number <> 0 Then
    WScript.Echo "FAIL: CreateObject raised " & Hex(Err.Number)
    WScript.Echo "KESTRAVA-SCRIPT-END 1"
    WScript.Quit 1
End If
Err.Clear

' Each statement runs with errors resumed; its error number is taken at once.
Dim e

player.OpenFile "C:\no such file.mp4", 0 : e = Err.Number : Err.Clear : Check e = 0, "OpenFile"
player.Play : e = Err.Number : Err.Clear : Check e = 0, "Play"
player.PLAY : e = Err.Number : Err.Clear : Check e = 0, "PLAY"
player.pause : e = Err.Number : Err.Clear : Check e = 0, "pause"
player.sToP : e = Err.Number : Err.Clear : Check e = 0, "sToP"
player.SetVolume 50 : e = Err.Number : Err.Clear : Check e = 0, "SetVolume"
player.setplaypos 101 : e = Err.Number : Err.Clear : Check e = 0, "setplaypos out of range is no error"
value = player.PlayPos : e = Err.Number : Err.Clear : Check e = 0, "PlayPos"
value = player.playpos : e = Err.Number : Err.Clear : Check e = 0, "playpos"
Check IsNumeric(player.Volume), "Volume is a number"
value = player.TotalTime : e = Err.Number : Err.Clear : Check e = 438, "TotalTime is not on the object's dispatch"
player.StepForward : e = Err.Number : Err.Clear : Check e = 438, "StepForward is not on the object's dispatch"
player.NoSuchMethod : e = Err.Number : Err.Clear : Check e = 438, "unknown name"
player.SetVolume : e = Err.Number : Err.Clear : Check e = 450, "missing argument"
player.CloseFile : e = Err.Number : Err.Clear : Check e = 0, "CloseFile"

Dim versioned
Set versioned = CreateObject("Kestrava.KestravaCOM.1")
Check IsObject(versioned), "versioned ProgID"
Set versioned = Nothing
Set player = Nothing

WScript.Echo "KESTRAVA-SCRIPT-END " & failures
WScript.Quit failures
