using System.Reflection;

[assembly: AssemblyTitle("Palavox.Text")]
[assembly: AssemblyDescription("TrataHTML, FindString and RemoverAcentuacao with the results of Palavox.dll")]
