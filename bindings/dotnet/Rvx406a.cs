// The boards as .NET objects over NativeMethods: Boards loads and unloads,
// Board and Axis make the common calls, a call that leaves a negative result
// code throws RvxException, and board events arrive as a .NET event.
//
//     using (var boards = new Boards())
//     {
//         Axis axis = boards[0].Axis(0);
//         axis.SetSpeed(1000, 20000, 20, 20);
//         axis.Move(3000);
//         axis.WaitDone(TimeSpan.FromSeconds(10));
//         Console.WriteLine(axis.CommandPosition);
//     }
using System;
using System.Diagnostics;
using System.Threading;
using static Rvx406a.NativeMethods;

namespace Rvx406a
{
    /// <summary>A call that left a negative result code.</summary>
    public class RvxException : Exception
    {
        /// <summary>The result code, e.g. -546.</summary>
        public int Code { get; }
        /// <summary>The code's name in rvx406a.h (ERR_AXIS_DRV_BUSY), or its number when it has none.</summary>
        public string Name { get; }
        /// <summary>The export that left the code.</summary>
        public string Function { get; }

        public RvxException(int code, string function)
            : base(function + ": " + NameOf(code) + " (" + code + ")")
        {
            Code = code;
            Name = NameOf(code);
            Function = function;
        }

        /// <summary>The code as an enum value; codes without a name keep their number.</summary>
        public ResultCode Result => (ResultCode)Code;

        /// <summary>The header's name of a result code; the number for codes it does not name (-201).</summary>
        public static string NameOf(int code) =>
            Enum.IsDefined(typeof(ResultCode), code) ? ((ResultCode)code).ToString() : code.ToString();

        /// <summary>Throws when the last result is negative.</summary>
        public static void Check(string function)
        {
            int code = RVX406A_GetErrorCode();
            if (code < 0)
                throw new RvxException(code, function);
        }

        internal static T Check<T>(T value, string function)
        {
            Check(function);
            return value;
        }
    }

    /// <summary>What a board event is about.</summary>
    public enum EventKind
    {
        /// <summary>A motion event of the chip: read Board.MotionEventStatus.</summary>
        Motion = 0,
        /// <summary>Watched digital inputs changed: read Board.InputEventStatus.</summary>
        Inputs = 1,
    }

    /// <summary>One notification of a board's watcher thread.</summary>
    public class BoardEventArgs : EventArgs
    {
        public int Board { get; }
        public EventKind Kind { get; }

        public BoardEventArgs(int board, EventKind kind)
        {
            Board = board;
            Kind = kind;
        }
    }

    /// <summary>
    /// The loaded boards: the constructor loads them (RVX406A_LoadDevice), Dispose
    /// unloads them. Load them once per process; another process may use the same
    /// boards at the same time.
    /// </summary>
    public sealed class Boards : IDisposable
    {
        // The delegate the library calls is kept here, reachable from a static,
        // from registration until the boards are unloaded: the watcher threads
        // hold only its native pointer.
#pragma warning disable 414  // only kept, never read
        static RVX406A_EVENT_CALLBACK registered;
#pragma warning restore 414
        static readonly object gate = new object();
        EventHandler<BoardEventArgs> handlers;
        bool disposed;

        /// <summary>The number of boards loaded.</summary>
        public int Count { get; }

        public Boards()
        {
            int highest = RVX406A_LoadDevice();
            if (highest < 0)
                throw new RvxException(highest, "RVX406A_LoadDevice");
            Count = highest + 1;
        }

        public Board this[int board]
        {
            get
            {
                if (board < 0 || board >= Count)
                    throw new ArgumentOutOfRangeException(nameof(board), board, "board of " + Count);
                return new Board(board);
            }
        }

        /// <summary>
        /// Board events of every board (switch them on with Board.EnableEvents). The
        /// handlers run on the board's watcher thread, not the thread that loaded the
        /// boards; an exception a handler throws is written to standard error, since
        /// it cannot travel back into the library.
        /// </summary>
        public event EventHandler<BoardEventArgs> Event
        {
            add
            {
                lock (gate)
                {
                    bool first = handlers == null;
                    handlers += value;
                    if (first)
                        Register(new RVX406A_EVENT_CALLBACK(OnNative));
                }
            }
            remove
            {
                lock (gate)
                {
                    handlers -= value;
                    if (handlers == null && !disposed)
                        Register(null);
                }
            }
        }

        void Register(RVX406A_EVENT_CALLBACK callback)
        {
            // The target is one per process; the board number is only checked.
            if (callback != null)
                RVX406A_SetEventHandler(0, 1, callback, 0);
            else
                RVX406A_SetEventHandler(0, 1, IntPtr.Zero, 0);
            RvxException.Check("RVX406A_SetEventHandler");
            registered = callback;
        }

        void OnNative(uint board, uint kind)
        {
            EventHandler<BoardEventArgs> current = handlers;
            if (current == null)
                return;
            try
            {
                current(this, new BoardEventArgs((int)board, (EventKind)kind));
            }
            catch (Exception e)
            {
                Console.Error.WriteLine("rvx406a: a board event handler threw: " + e);
            }
        }

        /// <summary>Unloads the boards; the watcher threads end before it returns.</summary>
        public void Dispose()
        {
            if (disposed)
                return;
            disposed = true;
            RVX406A_UnloadDevice();
            lock (gate)
            {
                handlers = null;
                registered = null;
            }
        }
    }

    /// <summary>One board; its methods throw RvxException for a negative result.</summary>
    public sealed class Board
    {
        public int Number { get; }
        internal ushort N => (ushort)Number;

        public Board(int number)
        {
            Number = number;
        }

        public Axis Axis(int number) => new Axis(this, number);

        /// <summary>Board type (196), logic version, axes, DI count, DO count.</summary>
        public uint[] Info()
        {
            uint type, version, axes, di, dout;
            RVX406A_BoardInfo(N, out type, out version, out axes, out di, out dout);
            RvxException.Check("RVX406A_BoardInfo");
            return new[] { type, version, axes, di, dout };
        }

        public void PutDO(int channel, bool on)
        {
            RVX406A_PutDOBit(N, (ushort)channel, (ushort)(on ? 1 : 0));
            RvxException.Check("RVX406A_PutDOBit");
        }

        public bool GetDO(int channel) =>
            RvxException.Check(RVX406A_GetDOBit(N, (ushort)channel), "RVX406A_GetDOBit") != 0;

        public bool GetDI(int channel) =>
            RvxException.Check(RVX406A_GetDIBit(N, (ushort)channel), "RVX406A_GetDIBit") != 0;

        public void PutDOWord(int index, ushort value)
        {
            RVX406A_PutDOWord(N, (ushort)index, value);
            RvxException.Check("RVX406A_PutDOWord");
        }

        public ushort GetDOWord(int index)
        {
            ushort value;
            RVX406A_GetDOWord(N, (ushort)index, out value);
            return RvxException.Check(value, "RVX406A_GetDOWord");
        }

        public ushort GetDIWord(int index)
        {
            ushort value;
            RVX406A_GetDIWord(N, (ushort)index, out value);
            return RvxException.Check(value, "RVX406A_GetDIWord");
        }

        /// <summary>Switches the board's interrupts on or off (Boards.Event delivers them).</summary>
        public void EnableEvents(bool on)
        {
            RVX406A_SetEventEnable(N, (ushort)(on ? 1 : 0));
            RvxException.Check("RVX406A_SetEventEnable");
        }

        /// <summary>Inputs that raise an event, one bit per input 0..63.</summary>
        public void WatchInputs(ulong mask)
        {
            RVX406A_SetDiEventMask(N, (uint)mask, (uint)(mask >> 32));
            RvxException.Check("RVX406A_SetDiEventMask");
        }

        /// <summary>The latched motion events, cleared by reading.</summary>
        public ushort MotionEventStatus()
        {
            ushort status;
            RVX406A_GetMotEventStatus(N, 0, out status);
            return RvxException.Check(status, "RVX406A_GetMotEventStatus");
        }

        /// <summary>The latched input events, one bit per input 0..63, cleared by reading.</summary>
        public ulong InputEventStatus()
        {
            uint low, high;
            RVX406A_GetDiEventStatus(N, out low, out high);
            RvxException.Check("RVX406A_GetDiEventStatus");
            return (ulong)high << 32 | low;
        }

        /// <summary>Factory defaults for the whole board.</summary>
        public void Reset()
        {
            RVX406A_Reset(N);
            RvxException.Check("RVX406A_Reset");
        }

        /// <summary>Writes the board's settings to its parameter file.</summary>
        public void Save()
        {
            RVX406A_SaveFile(N);
            RvxException.Check("RVX406A_SaveFile");
        }
    }

    /// <summary>One axis of a board; its methods throw RvxException for a negative result.</summary>
    public sealed class Axis
    {
        public Board Board { get; }
        public int Number { get; }
        ushort B => Board.N;
        ushort A => (ushort)Number;

        public Axis(Board board, int number)
        {
            Board = board;
            Number = number;
        }

        /// <summary>Servo-on output.</summary>
        public void Servo(bool on)
        {
            RVX406A_PutSvOn(B, A, (ushort)(on ? 1 : 0));
            RvxException.Check("RVX406A_PutSvOn");
        }

        /// <summary>Pulse output mode 0..5.</summary>
        public void SetPulseMode(int mode)
        {
            RVX406A_SetPulseMode(B, A, (ushort)mode);
            RvxException.Check("RVX406A_SetPulseMode");
        }

        /// <summary>Hardware limits: mode 0 sudden, 1 decelerating stop; logic 0 low, 1 high active.</summary>
        public void SetLimits(int mode, int logic)
        {
            RVX406A_SetHlmt(B, A, (ushort)mode, (ushort)logic);
            RvxException.Check("RVX406A_SetHlmt");
        }

        public void SetSoftLimits(int plus, int minus, bool enable)
        {
            RVX406A_SetSlmt(B, A, plus, minus, (ushort)(enable ? 1 : 0));
            RvxException.Check("RVX406A_SetSlmt");
        }

        /// <summary>Positioning profile: start and drive speed (PPS), acceleration and deceleration (ms).</summary>
        public void SetSpeed(uint startPps, uint drivePps, uint accMs, uint decMs)
        {
            RVX406A_SetPosSpeed(B, A, startPps, drivePps, accMs, decMs);
            RvxException.Check("RVX406A_SetPosSpeed");
        }

        /// <summary>The positioning profile: start PPS, drive PPS, acceleration ms, deceleration ms.</summary>
        public uint[] Speed()
        {
            uint start, drive, acc, dec;
            RVX406A_GetPosSpeed(B, A, out start, out drive, out acc, out dec);
            RvxException.Check("RVX406A_GetPosSpeed");
            return new[] { start, drive, acc, dec };
        }

        public void SetJogSpeed(uint startPps, uint drivePps, uint accMs)
        {
            RVX406A_SetJogSpeed(B, A, startPps, drivePps, accMs);
            RvxException.Check("RVX406A_SetJogSpeed");
        }

        /// <summary>Relative move, pulses.</summary>
        public void Move(int distance)
        {
            RVX406A_Inc_Move(B, A, distance);
            RvxException.Check("RVX406A_Inc_Move");
        }

        /// <summary>Absolute move, pulses.</summary>
        public void MoveTo(int position)
        {
            RVX406A_Abs_Move(B, A, position);
            RvxException.Check("RVX406A_Abs_Move");
        }

        /// <summary>Runs until stopped, in the positive or the negative direction.</summary>
        public void Jog(bool positive)
        {
            RVX406A_Jog_Move(B, A, (ushort)(positive ? 1 : 0));
            RvxException.Check("RVX406A_Jog_Move");
        }

        public void Home()
        {
            RVX406A_Home_Move(B, A);
            RvxException.Check("RVX406A_Home_Move");
        }

        public void Stop(bool sudden = false)
        {
            if (sudden)
                RVX406A_Sudden_Stop(B, A);
            else
                RVX406A_Decel_Stop(B, A);
            RvxException.Check(sudden ? "RVX406A_Sudden_Stop" : "RVX406A_Decel_Stop");
        }

        /// <summary>True once the axis is idle; a move stopped by a cause (a limit, an alarm) throws it, once.</summary>
        public bool Done() => RvxException.Check(RVX406A_Done(B, A), "RVX406A_Done") == 0;

        /// <summary>Polls Done until the axis is idle, sleeping between polls, so other threads and processes get the library between polls.</summary>
        public void WaitDone(TimeSpan timeout)
        {
            Stopwatch clock = Stopwatch.StartNew();
            while (!Done())
            {
                if (clock.Elapsed > timeout)
                    throw new TimeoutException("axis " + Number + " still moving after " + timeout);
                Thread.Sleep(5);
            }
        }

        public ushort Status => RvxException.Check(RVX406A_GetCardStatus(B, A), "RVX406A_GetCardStatus");

        public int SpeedNow => RvxException.Check(RVX406A_GetCommandSpeed(B, A), "RVX406A_GetCommandSpeed");

        public int CommandPosition
        {
            get { return RvxException.Check(RVX406A_GetCommandPos(B, A), "RVX406A_GetCommandPos"); }
            set
            {
                RVX406A_SetCommandPos(B, A, value);
                RvxException.Check("RVX406A_SetCommandPos");
            }
        }

        public int ActualPosition
        {
            get { return RvxException.Check(RVX406A_GetActualPos(B, A), "RVX406A_GetActualPos"); }
            set
            {
                RVX406A_SetActualPos(B, A, value);
                RvxException.Check("RVX406A_SetActualPos");
            }
        }

        /// <summary>Which motion events raise a board event, 0..7.</summary>
        public void SetMotionEventMask(int mask)
        {
            RVX406A_SetMotEventMask(B, A, (ushort)mask);
            RvxException.Check("RVX406A_SetMotEventMask");
        }
    }
}
