// The C example in C#: move one axis of board 0, switch an output, read an
// input. Build and run against the simulated board (Linux, mono):
//   mcs -r:Rvx406a.dll move.cs && RVX_DRIVER=sim mono move.exe
// with Rvx406a.dll and its .config beside move.exe (or MONO_PATH naming
// their folder). On Windows, reference Rvx406a.dll in the project and put
// rvxMApiBrd.dll beside the program.
using System;
using Rvx406a;

static class Move
{
    static int Main()
    {
        try
        {
            using (var boards = new Boards())
            {
                Board board = boards[0];
                uint[] info = board.Info();  // type, version, axes, DI, DO
                Console.WriteLine("boards: {0}; board 0: {1} axes, {2} DI, {3} DO",
                                  boards.Count, info[2], info[3], info[4]);

                Axis axis = board.Axis(0);
                axis.SetPulseMode(0);  // pulse and direction
                axis.Servo(true);
                try
                {
                    axis.SetSpeed(1000, 20000, 20, 20);  // start, drive (PPS), acc, dec (ms)
                    axis.Move(3000);
                    axis.WaitDone(TimeSpan.FromSeconds(10));  // throws the stop cause, e.g. a limit
                    Console.WriteLine("moved: command {0}, actual {1}",
                                      axis.CommandPosition, axis.ActualPosition);
                }
                finally
                {
                    axis.Servo(false);
                }

                board.PutDO(0, true);
                Console.WriteLine("DO 0 = {0}, DI 0 = {1}",
                                  board.GetDO(0) ? 1 : 0, board.GetDI(0) ? 1 : 0);
            }
            return 0;
        }
        catch (RvxException e)
        {
            Console.Error.WriteLine("{0}: {1} ({2})", e.Function, e.Name, e.Code);
            return 1;
        }
    }
}
