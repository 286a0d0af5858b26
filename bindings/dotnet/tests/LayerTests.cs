// The layer over the declarations: loading and unloading, exceptions with
// the code's name, and board events as a .NET event.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Threading;

namespace Rvx406a.Tests
{
    static class LayerTests
    {
        public static IEnumerable<KeyValuePair<string, Action>> All()
        {
            return new Dictionary<string, Action>
            {
                ["a move polled to its end"] = MovePolled,
                ["refusals throw with the code and its name"] = Refusals,
                ["boards unload when the block throws"] = UnloadOnThrow,
                ["board events arrive as a .NET event"] = Events,
            }.ToList();
        }

        static void MovePolled()
        {
            using (var boards = new Boards())
            {
                Assert.Equal(2, boards.Count, "boards");
                Axis axis = boards[0].Axis(2);
                axis.SetSpeed(1000, 200000, 5, 5);
                Assert.Sequence(new uint[] { 1000, 200000, 5, 5 }, axis.Speed(), "speed read back");
                axis.CommandPosition = 100;
                axis.ActualPosition = 100;
                axis.Move(-2500);
                axis.WaitDone(TimeSpan.FromSeconds(10));
                Assert.Equal(-2400, axis.CommandPosition, "command position");
                Assert.Equal(-2400, axis.ActualPosition, "actual position");

                Board board = boards[0];
                board.PutDOWord(2, 0x8421);
                Assert.Equal((ushort)0x8421, board.GetDOWord(2), "output word 2");
                Assert.True(board.GetDO(32) && !board.GetDO(33), "outputs 32 and 33");
                Assert.Sequence(new uint[] { 196, 4, 64, 64 }, board.Info().Where((v, i) => i != 1), "Info");
                board.PutDOWord(2, 0);
            }
        }

        static void Refusals()
        {
            using (var boards = new Boards())
            {
                var cases = new[]
                {
                    new { Call = (Action)(() => boards[0].Axis(0).SetSpeed(4000001, 20000, 20, 20)),
                          Code = ResultCode.ERR_MAX_STARTV, Function = "RVX406A_SetPosSpeed" },
                    new { Call = (Action)(() => boards[0].Axis(0).Move(268435456)),
                          Code = ResultCode.ERR_INVALID_PARAMETER, Function = "RVX406A_Inc_Move" },
                    new { Call = (Action)(() => boards[0].Axis(4).Move(10)),
                          Code = ResultCode.ERR_AXIS_NUM, Function = "RVX406A_Inc_Move" },
                    new { Call = (Action)(() => new Board(5).GetDI(0)),
                          Code = ResultCode.ERR_BOARD_NUMBER, Function = "RVX406A_GetDIBit" },
                };
                foreach (var c in cases)
                {
                    RvxException e = Assert.Throws<RvxException>(c.Call, c.Function);
                    Assert.Equal((int)c.Code, e.Code, c.Function + " code");
                    Assert.Equal(c.Code.ToString(), e.Name, c.Function + " name");
                    Assert.Equal(c.Code, e.Result, c.Function + " result");
                    Assert.Equal(c.Function + ": " + c.Code + " (" + (int)c.Code + ")", e.Message, "message");
                }
                // A code the header does not name keeps its number.
                RvxException unnamed = Assert.Throws<RvxException>(() => boards[0].GetDOWord(4), "word 4");
                Assert.Equal("-201", unnamed.Name, "name of -201");
                Assert.Throws<ArgumentOutOfRangeException>(() => boards[2].Reset(), "board 2 of 2");
            }
        }

        static void UnloadOnThrow()
        {
            Assert.Throws<KeyNotFoundException>(() =>
            {
                using (var boards = new Boards())
                {
                    Assert.Equal(0, boards[0].Axis(1).Status & 0x100, "axis 1 idle");
                    throw new KeyNotFoundException("inside");
                }
            }, "the block's exception");
            RvxException e = Assert.Throws<RvxException>(() => new Board(0).Axis(1).Status.ToString(), "after Dispose");
            Assert.Equal(ResultCode.ERR_INVALID_HANDLE, e.Result, "the boards were unloaded");
        }

        static void Events()
        {
            var seen = new List<BoardEventArgs>();
            var senders = new List<object>();
            int testThread = Thread.CurrentThread.ManagedThreadId;
            int handlerThread = testThread;
            EventHandler<BoardEventArgs> handler = (sender, e) =>
            {
                lock (seen)
                {
                    seen.Add(e);
                    senders.Add(sender);
                    handlerThread = Thread.CurrentThread.ManagedThreadId;
                }
            };
            using (var boards = new Boards())
            {
                boards.Event += handler;
                // Only the event holds the handler's delegate now.
                GC.Collect();
                GC.WaitForPendingFinalizers();
                Board board = boards[0];
                Axis axis = board.Axis(3);
                axis.SetMotionEventMask(7);
                board.EnableEvents(true);
                axis.SetSpeed(1000, 200000, 5, 5);
                axis.Move(50);
                axis.WaitDone(TimeSpan.FromSeconds(10));
                var clock = Stopwatch.StartNew();
                while (clock.Elapsed < TimeSpan.FromSeconds(5))
                {
                    lock (seen)
                    {
                        if (seen.Count > 0)
                            break;
                    }
                    Thread.Sleep(2);
                }
                lock (seen)
                {
                    Assert.True(seen.Count > 0, "an event arrived");
                    Assert.Equal(EventKind.Motion, seen[0].Kind, "kind");
                    Assert.Equal(0, seen[0].Board, "board");
                    Assert.True(ReferenceEquals(boards, senders[0]), "sender");
                    Assert.True(handlerThread != testThread, "on the watcher thread");
                }
                Assert.True(board.MotionEventStatus() != 0, "latched");

                boards.Event -= handler;
                int before = seen.Count;
                board.MotionEventStatus();
                axis.Move(50);
                axis.WaitDone(TimeSpan.FromSeconds(10));
                Thread.Sleep(100);
                Assert.True(board.MotionEventStatus() != 0, "the event still latches");
                lock (seen)
                    Assert.Equal(before, seen.Count, "no handler called after -=");
                board.EnableEvents(false);
            }
        }
    }
}
