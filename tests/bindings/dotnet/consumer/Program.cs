// A .NET user's program: one call, and the version of the assembly it got.
using System;
using Palavox;

static class Program
{
    static void Main()
    {
        Console.WriteLine(PalavoxText.RemoverAcentuacao("Ação & Reação"));
        Console.WriteLine(typeof(PalavoxText).Assembly.GetName().Version);
    }
}
